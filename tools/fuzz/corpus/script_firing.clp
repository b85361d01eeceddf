; What rule firings see and do: variables of each firing alone, local binds
; that end with the firing, modify and retract through pattern addresses,
; fact ids, duplicates, arithmetic on matched values, globals, watch output.
(deftemplate item (slot id) (slot n) (slot tag (default none)))
(deftemplate seen (slot id) (slot v))
(defglobal ?*total* = 0 ?*count* = 0)

(defrule local-binds-end-with-the-firing
   (declare (salience 20))
   (item (id ?id) (n ?n&:(< ?n 3)))
   =>
   (if (= ?n 1) then (bind ?extra (* ?n 100)))
   (printout t ?__RULE " id=" ?id " n=" ?n crlf))

(defrule step
   (declare (salience 10))
   ?f <- (item (id ?id) (n ?n&:(< ?n 4)) (tag ?t))
   =>
   (bind ?*count* (+ ?*count* 1))
   (bind ?*total* (+ ?*total* (mod (* ?n 7) 5) 0.5))
   (printout t "step " ?id " n=" ?n " f=" ?f " -> "
             (modify ?f (n (+ ?n 1)) (tag (sym-cat t ?n))) crlf))

(defrule record
   ?f <- (item (id ?id) (n 4))
   (not (seen (id ?id)))
   =>
   (printout t "record " ?id " " (assert (seen (id ?id) (v (- 10 ?id)))) crlf)
   (printout t "again " (assert (seen (id ?id) (v (- 10 ?id)))) crlf)
   (retract ?f))

(assert (item (id 1) (n 1)) (item (id 2) (n 2)))
(watch facts)
(watch rules)
(run)
(unwatch all)
(printout t "count=" ?*count* " total=" ?*total* crlf)
(facts)
(assert (item (id 3) (n 0)))
(printout t (run 1) crlf)

; A variable bound by one firing is unknown to the next: the second firing
; of leak-check stops the run with an error.
(defrule leak-check
   (item (id ?id&:(> ?id 3)))
   =>
   (printout t "leak-check " ?id crlf)
   (if (= ?id 4) then (printout t "extra=" ?extra crlf))
   (bind ?extra ?id))
(assert (item (id 4) (n 9)) (item (id 5) (n 9)))
(run)
(printout t "after" crlf)
