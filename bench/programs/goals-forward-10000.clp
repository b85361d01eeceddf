;; The forward-only counterpart of goals-10000: the same chain of 10000 links
;; and its steps, with no goals. Every step is asserted up front and link 0
;; is there from the start, so the chain completes upwards by forward
;; chaining alone, through the same build rule.
(deftemplate link (slot n) (slot value))
(deftemplate step (slot n) (slot previous))

(defrule top
   (link (n 10000) (value ?v))
   =>
   (printout t "SUMMARY goals link=10000 value=" ?v crlf))

(defrule build
   (step (n ?n) (previous ?p))
   (link (n ?p) (value ?v))
   =>
   (assert (link (n ?n) (value (+ ?v 2)))))

(deffunction make-steps (?total)
   (bind ?n ?total)
   (while (> ?n 0) do
      (assert (step (n ?n) (previous (- ?n 1))))
      (bind ?n (- ?n 1))))

(reset)
(make-steps 10000)
(assert (link (n 0) (value 0)))
(run)
(exit)
