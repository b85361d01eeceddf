; Errors are reported and processing goes on with the next expression.
(deftemplate point (slot x) (slot y))
(assert (point (x 1) (z 2)))
(defrule ok (point (x ?x)) => (printout t "x=" ?x crlf))
(defrule broken (point (x ?x)) -> (printout t ?x crlf))
(assert (point (x 3) (y 4)))
(printout t (/ 1 0) crlf)
(run)
