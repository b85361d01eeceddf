;; Backward chaining: a chain of 10000 goals. The top rule needs link 10000;
;; each link n > 0 is made from link n - 1, which nobody has, so asking for
;; link n asks for link n - 1 in turn, down to link 0, which a rule supplies
;; outright. Then the chain completes upwards by forward chaining.
(deftemplate link (slot n) (slot value))
(deftemplate step (slot n) (slot previous))
(do-backward-chaining link)

(defrule top
   (link (n 10000) (value ?v))
   =>
   (printout t "SUMMARY goals link=10000 value=" ?v crlf))

(defrule ask-previous
   (need-link (n ?n&:(> ?n 0)))
   =>
   (assert (step (n ?n) (previous (- ?n 1)))))

(defrule build
   (step (n ?n) (previous ?p))
   (link (n ?p) (value ?v))
   =>
   (assert (link (n ?n) (value (+ ?v 2)))))

(defrule ground
   (need-link (n 0))
   =>
   (assert (link (n 0) (value 0))))

(reset)
(run)
