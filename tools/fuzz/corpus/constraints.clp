(defrule r (a ?x&:(> ?x 1)|3) (not (b ?x)) ?f <- (c $?y) (test (< ?x 5)) => (retract ?f))
