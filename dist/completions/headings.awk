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
function trim(s) { sub(/^[[:blank:]]+/, "", s); sub(/[[:blank:]]+$/, "", s); return s }
# The run of the character c at the start of s.
function run(s, c,   n) { n = 0; while (substr(s, n + 1, 1) == c) n++; return n }
function key(i, d,   k, j) {
  k = text[i]
  for (j = 0; j < d; j++) k = k SUBSEP up[i, ups[i] - j]
  return k
}
BEGIN { BS = sprintf("%c", 92); CR = sprintf("%c", 13) }
{ sub(CR "+$", ""); line[NR] = $0 }
END {
  start = 1
  # Frontmatter counts only once it is closed.
  if (trim(line[1]) == "---") {
    for (i = 2; i <= NR; i++) if (trim(line[i]) == "---" || trim(line[i]) == "...") { start = i + 1; break }
  }
  for (i = start; i <= NR; i++) {
    t = line[i]
    if (t ~ /^    /) continue
    sub(/^ */, "", t)
    if (fence != "") {
      if (run(t, fence) >= fence_len && trim(substr(t, run(t, fence) + 1)) == "") fence = ""
      continue
    }
    c = substr(t, 1, 1)
    if ((c == "`" || c == "~") && run(t, c) >= 3 && !(c == "`" && index(substr(t, run(t, c) + 1), "`"))) {
      fence = c; fence_len = run(t, c)
      continue
    }
    level = run(t, "#")
    if (level < 1 || level > 6 || substr(t, level + 1) !~ /^([[:blank:]]|$)/) continue
    t = trim(substr(t, level + 1))
    if (t ~ /^#+$/) t = ""
    else if (t ~ /[[:blank:]]#+$/) { sub(/#+$/, "", t); t = trim(t) }
    n++; text[n] = t; ups[n] = 0
    for (j = 1; j < level; j++) if (j in open) up[n, ++ups[n]] = open[j]
    for (j = level; j <= 6; j++) delete open[j]
    open[level] = t
  }
  for (i = 1; i <= n; i++) for (d = 0; d <= ups[i]; d++) pos[i, d] = ++count[d, key(i, d)]
  for (i = 1; i <= n; i++) {
    name = esc(text[i]); d = 0
    while (count[d, key(i, d)] > 1 && d < ups[i]) { d++; name = esc(up[i, ups[i] - d + 1]) "::" name }
    if (count[d, key(i, d)] > 1) name = name "#" pos[i, d]
    if (text[i] != "") print name
  }
}
