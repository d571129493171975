# The headings of a markdown note, each named as `elmpad reveal` takes it: its
# text, with enclosing headings ("Plan::Tasks") or a position ("Tasks#2") only
# where the text alone names more than one. Headings in YAML frontmatter and
# fenced code do not count. Written without backslashes or single quotes, so
# that the completion of every shell can carry it in single quotes.
function esc(s,   out, i, c) {
  out = ""
  for (i = 1; i <= length(s); i++) {
    c = substr(s, i, 1)
    if (c == BS || c == "#" || (c == ":" && (i == length(s) || substr(s, i + 1, 1) == ":"))) out = out BS
    out = out c
  }
  return out
}
function key(i, d,   k, j) {
  k = text[i]
  for (j = 0; j < d; j++) k = k SUBSEP up[i, ups[i] - j]
  return k
}
BEGIN { BS = sprintf("%c", 92) }
NR == 1 && /^---[[:blank:]]*$/ { front = 1; next }
front { if (/^(---|[.][.][.])[[:blank:]]*$/) front = 0; next }
fence != "" { line = $0; sub(/^ */, "", line); if (index(line, fence) == 1) fence = ""; next }
/^ ? ? ?(```|~~~)/ { sub(/^ */, ""); fence = substr($0, 1, 3); next }
/^ ? ? ?#+([[:blank:]]|$)/ && !/^ ? ? ?#######/ {
  level = $0; sub(/^ */, "", level); sub(/[^#].*$/, "", level); level = length(level)
  sub(/^ *#+[[:blank:]]*/, ""); sub(/[[:blank:]]+#+[[:blank:]]*$/, ""); sub(/^#+[[:blank:]]*$/, "")
  sub(/[[:blank:]]+$/, "")
  n++; text[n] = $0; ups[n] = 0
  for (j = 1; j < level; j++) if (j in open) up[n, ++ups[n]] = open[j]
  for (j = level; j <= 6; j++) delete open[j]
  open[level] = $0
}
END {
  for (i = 1; i <= n; i++) for (d = 0; d <= ups[i]; d++) pos[i, d] = ++count[d, key(i, d)]
  for (i = 1; i <= n; i++) {
    name = esc(text[i]); d = 0
    while (count[d, key(i, d)] > 1 && d < ups[i]) { d++; name = esc(up[i, ups[i] - d + 1]) "::" name }
    if (count[d, key(i, d)] > 1) name = name "#" pos[i, d]
    if (text[i] != "") print name
  }
}
