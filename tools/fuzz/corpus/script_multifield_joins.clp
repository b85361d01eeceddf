; Every way a pattern with multifield wildcards splits a fact is a match of
; its own, in any pattern of a rule and whatever keys its join.
(defrule same-list (a $?x) (b $?x) => (printout t "same (" (implode$ $?x) ")" crlf))
(defrule shared-item (a $? ?i $?) ?f <- (b $? ?i $?) => (printout t "shared " ?i " in " ?f crlf))
(reset)
(assert (a 1 2))
(assert (b 1 2))
(assert (b 2 1))
(assert (b 1 2.0))
(run)

(clear)
(deffacts f (go) (va rock r rock) (pick b) (pick c) (pick d) (vb a b c d))
(defrule first-pattern (va ?a $? ?c $?) => (printout t "first-pattern " ?c crlf))
(defrule unkeyed (go) (va ?a $? ?c $?) => (printout t "unkeyed " ?c crlf))
(defrule keyed (pick ?c) (vb ?a $? ?c $?) => (printout t "keyed " ?c crlf))
(defrule return-value (pick ?c) (vb ?a $? =(sym-cat ?c) $?) => (printout t "return-value " ?c crlf))
(reset)
(agenda)
(run)

; A fact matched several ways loses every match when it goes.
(reset)
(retract 2)
(agenda)

; A multislot of a template splits the same way.
(clear)
(deftemplate bag (slot owner) (multislot items))
(defrule pair-in-bag (bag (owner ?o) (items $? ?x $? ?x $?)) => (printout t ?o " has " ?x " twice" crlf))
(defrule item-of (want ?x) (bag (owner ?o) (items $? ?x $?)) => (printout t ?o " has " ?x crlf))
(assert (bag (owner ann) (items pen cup pen cup pen)))
(assert (want cup))
(run)

; A disjunction of variables bound earlier matches a value equal to either.
(clear)
(deffacts g (pair 1 2) (val 1) (val 2) (val 3))
(defrule and-or (pair ?a ?b) (val ?x&?a|?b) => (printout t "via &: " ?x crlf))
(defrule or-only (pair ?a ?b) (val ?a|?b) => (printout t "or-only" crlf))
(defrule or-none (pair ?a ?b) (not (val ?a|?b)) => (printout t "none equal to a or b" crlf))
(reset)
(run)
