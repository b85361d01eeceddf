;; Untyped: the typed program's 100000 facts in a template without
;; constraints, checked by nothing: what the typed one is measured against.
(deftemplate item
  (slot id)
  (slot colour)
  (slot grade)
  (slot weight)
  (multislot tags))

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
(reset)
(load_items 100000)
(run)
(printout t "SUMMARY untyped facts=100000 fired=" ?*count* " sum=" ?*sum* crlf)
(exit)
