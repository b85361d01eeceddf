;; Typed: 100000 facts of a template with five constrained slots, checked
;; when parsed and when stored (static and dynamic checks on).
(deftype colour extends (type SYMBOL) (allowed-symbols red orange yellow green blue))
(deftype grade extends (type INTEGER) (allowed-integers 1 2 3 4 5 6 7 8 9 10 11 12))
(deftemplate item
  (slot id (type INTEGER) (range 0 ?VARIABLE))
  (slot colour (type colour))
  (slot grade (type grade))
  (slot weight (type FLOAT) (range 0.0 1000.0))
  (multislot tags (type SYMBOL) (cardinality 0 3)))

(defglobal ?*count* = 0 ?*sum* = 0)

(defrule count_item
   (item (id ?i) (grade ?g))
   =>
   (bind ?*count* (+ ?*count* 1))
   (bind ?*sum* (mod (+ ?*sum* ?i ?g) 1000003)))

(deffunction load_items (?total)
   (bind ?colours (create$ red orange yellow green blue))
   (bind ?k 0)
   (while (< ?k ?total) do
      (assert (item (id ?k) (colour (nth$ (mod ?k 5) ?colours)) (grade (+ 1 (mod ?k 12)))
                    (weight (/ (mod ?k 1000) 2.0)) (tags a b)))
      (bind ?k (+ ?k 1))))

(set-static-constraint-checking TRUE)
(set-dynamic-constraint-checking TRUE)
(reset)
(load_items 100000)
(run)
(printout t "SUMMARY typed facts=100000 fired=" ?*count* " sum=" ?*sum* crlf)
(exit)
