; Language code run while a fact is matched may change working memory: the
; changes wait until the fact has moved through the network. What cannot wait
; raises, and the fact is then not asserted.
(deffunction clears () (clear) TRUE)
(defrule r (x ?n&:(clears)) => (printout t "r " ?n crlf))
(assert (x 1))
(printout t "alive after clear" crlf)
(facts)

(deffunction resets () (reset) TRUE)
(defrule r (x ?n&:(resets)) => (printout t "r " ?n crlf))
(defrule s (x ?n) => (printout t "s " ?n crlf))
(assert (x 1))
(facts)
(agenda)
(run)

; A predicate that retracts the fact being matched: the retraction waits for
; the match, then takes the fact and its activations away.
(clear)
(reset)
(deffunction retracts () (retract 1) TRUE)
(defrule r (x ?n&:(retracts)) => (printout t "r " ?n crlf))
(defrule s (x ?n) => (printout t "s " ?n crlf))
(assert (x 1))
(facts)
(agenda)

; A predicate that asserts: the new fact comes once the first one is matched.
(clear)
(reset)
(deffunction notes (?n) (assert (noted ?n)) TRUE)
(defrule r (x ?n&:(notes ?n)) => (printout t "r " ?n crlf))
(defrule seen (noted ?n) => (printout t "noted " ?n crlf))
(assert (x 1) (x 2))
(facts)
(run)

; A predicate that fails while a fact is asserted: the fact is not asserted,
; no rule keeps a match of it, and it can be asserted again once the
; predicate holds.
(clear)
(reset)
(defrule r2 (item ?x) => (printout t "r2 sees " ?x crlf))
(defrule r1 (item ?x&:(> (/ 10 ?x) 1)) => (printout t "r1 sees " ?x crlf))
(defrule r3 (item ?x) => (printout t "r3 sees " ?x crlf))
(assert (item 0))
(agenda)
(facts)
(assert (item 2))
(agenda)
(retract 2)
(agenda)

; A rule whose actions redefine it, or its template: the firing rule lives
; until its actions end, then the new definitions take effect.
(clear)
(reset)
(open "redefined_rule.clp" out "w")
(printout out "(defrule r (x) => (printout t \"new r\" crlf))" crlf)
(close out)
(defrule r (x) => (load "redefined_rule.clp") (printout t "after" crlf))
(assert (x))
(run)
(clear)
(reset)
(open "redefined_template.clp" out "w")
(printout out "(deftemplate x (slot b))" crlf)
(close out)
(deftemplate x (slot a))
(defrule r ?f <- (x (a ?v)) => (load "redefined_template.clp") (printout t "after " ?v crlf))
(assert (x (a 1)))
(run)
(facts)
(printout t "alive" crlf)
