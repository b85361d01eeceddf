; The order of activations of equal salience made by one assertion.
;
; A join without a key visits the facts of its right memory bucket by bucket
; (a fact's bucket is its id modulo the network's bucket count, 101), each
; bucket in the order the facts came: (go) meets the items in id order, and
; under the depth strategy the newest activation fires first.
(deffacts items (item 1) (item 2) (item 3) (item 4) (item 5))
(defrule r (go) (item ?x) => (printout t "r " ?x crlf))
(reset)
(assert (go))
(run)

; Ids past the bucket count share buckets with the first ids: f-102 follows
; f-1 in bucket 1, f-103 follows f-2.
(reset)
(bind ?i 1)
(while (<= ?i 96) (assert (pad ?i)) (bind ?i (+ ?i 1)))
(retract 6)
(bind ?i 7)
(while (<= ?i 101) (retract ?i) (bind ?i (+ ?i 1)))
(facts)
(assert (item 102) (item 103))
(assert (go))
(run)

; Rules on one template: the newest activation first.
(defrule first-defined (start) => (printout t "first-defined" crlf))
(defrule second-defined (start) => (printout t "second-defined" crlf))
(defrule third-defined (start) => (printout t "third-defined" crlf))
(assert (start))
(run)

; A fact of a template that extends another reaches the rules on either in
; the order the network made their first nodes.
(deftemplate animal (slot name))
(deftemplate dog extends animal (slot breed))
(defrule on-animal-1 (animal (name ?n)) => (printout t "on-animal-1 " ?n crlf))
(defrule on-dog (dog (name ?n)) => (printout t "on-dog " ?n crlf))
(defrule on-animal-2 (animal (name ?n)) => (printout t "on-animal-2 " ?n crlf))
(assert (dog (name rex) (breed collie)))
(run)
