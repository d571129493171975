# fish completion for elmpad-wait: the file to edit.
complete -c elmpad-wait -F
