(defrule r (a ?x) => (printout t ?x crlf))
(assert (a 1))
(run)
