; Integers are 32-bit: arithmetic whose integer result leaves that range
; raises an error naming the function, at the top level and in a rule's test
; alike, where it used to wrap around without a word.
(+ 2147483647 1)
(* 65536 65536)
(- -2147483648 1)
(abs -2147483648)
(div -2147483648 -1)
(integer 3e9)
(random 2147483647 3e9)
; up to the edges, integers; with a float, floats
(+ 2147483646 1)
(* -65536 32768)
(integer -2147483648.5)
(+ 2147483647 1.0)
(defrule fits (n ?x) (test (> (+ ?x 1) 0)) => (printout t "fits " ?x crlf))
(assert (n 5))
(assert (n 2147483647))
(run)
(facts)
