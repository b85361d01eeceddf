; A stray return at the top level does not cut the next command short.
(return 5)
(if TRUE then (printout t "after" crlf))
