(defrule item-of (want ?x) (bag (owner \"?o) (items $? ?x $?)) => (printout t ?o crlf))
(defrule words (a c\ d nil) (b ~nil) => )
