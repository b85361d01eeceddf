; Fuzzy values end to end: a fuzzy type, facts and patterns that use its
; terms, matching by degree, correlation and inference as rules fire, the
; fuzzy functions, bad input, and a save that loads back the same.
(deftype level extends (type FUZZY) (range 0 10)
   (values (term low ((0 1) (5 0))) (term high ((5 0) (10 1))) (term mid (tri 2.5 5 7.5))))
(deftemplate tank (slot id) (slot fill (type level)))
(deftemplate valve (slot id) (slot opening (type level)))

; The emptier the tank, the wider the valve.
(defrule low-fill-opens (tank (id ?t) (fill low)) => (assert (valve (id ?t) (opening high))))
(defrule mid-fill-half (tank (id ?t) (fill mid)) => (assert (valve (id ?t) (opening mid))))
(defrule high-fill-closes (tank (id ?t) (fill very high)) => (assert (valve (id ?t) (opening low))))

(defrule show-valve (declare (salience -10)) ?v <- (valve (id ?t))
   =>
   (printout t ?t " opens to " (moment-defuzzify ?v) " (compatibility "
               (get-compatibility-index ?v) ")" crlf))

(assert (tank (id a) (fill (tri 1 2 3))))
(assert (tank (id b) (fill ((3 0) (4 1) (6 1) (7 0)))))
(agenda)
(run)
(facts)

; Thresholds and methods.
(set-activation-threshold 0.6)
(assert (tank (id c) (fill (tri 1 2 3))))
(agenda)
(get-activation-threshold)
(set-activation-threshold 0)
(set-fuzzy-inference sum)
(get-fuzzy-inference)
(set-fuzzy-correlation product)
(get-fuzzy-correlation)
(set-fuzzy-threshold 1.5)
(get-fuzzy-threshold)
(set-fuzzy-threshold 0.01)
(set-fuzzy-inference min-max)

; Building and reading fuzzy values.
(bind ?v (create-fuzzy-value level somewhat low or (high and not mid)))
(get-fs-value ?v 5)
(get-fs-length (tri 0 1 2))
(get-u level)
(fuzzy-union (tri 0 2 4) (tri 2 4 6))
(fuzzy-intersection-x mean (tri 0 2 4) (tri 2 4 6))
(is-undecidable (tri 0 2 4))
(fuzzy-assert-unconditional (tank (id d) (fill low)))
(fuzzy-assert-unconditional (tank (id d) (fill ((0 0.5) (10 0.5)))))
(facts 7)
