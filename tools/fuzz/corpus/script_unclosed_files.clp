; Files still open when the shell leaves are written out whole: the program
; beside this one (unclosed_files.then) reads them back in a second shell.
(open "unclosed.txt" data "w")
(printout data "first line" crlf)
(printout data "second line" crlf)
(dribble-on "dribble.txt")
(printout t "written" crlf)
(exit)
