; Reading a file to its end: readline and read answer the EOF atom there and
; after, as they do on the standard input (empty here), so loops end.
(open "lines.txt" out "w")
(printout out "first line" crlf "2 two 2.5" crlf)
(close out)
(open "lines.txt" in "r")
(while (neq (bind ?line (readline in)) EOF) do (printout t "line: " ?line crlf))
(printout t "again: " (readline in) crlf)
(close in)
(open "lines.txt" in "r")
(while (neq (bind ?token (read in)) EOF) do (printout t "token: " ?token " " (get-type ?token) crlf))
(printout t "again: " (read in) crlf)
(close in)
(printout t "standard input: " (readline) " " (read) crlf)
