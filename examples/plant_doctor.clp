; A plant doctor that asks only the questions it needs.
;
; Backward chaining: `observation` facts are not entered up front. Once
; (do-backward-chaining observation) is said, a rule that needs an
; observation nobody has made raises a goal, a `need-observation` fact that
; says what the rule is looking for. The rule `ask-the-owner` answers goals
; by asking; its answer completes the waiting rule by ordinary forward
; chaining. Questions no rule needs are never asked.

(deftemplate observation "Something known about the plant" (slot about) (slot value))
(do-backward-chaining observation)

; What the owner would answer if asked. (An interactive program would ask
; with (read) instead; these stand in for the owner so the output is fixed.)
(deftemplate owner-knows (slot about) (slot value))
(deffacts the-owner
   (owner-knows (about leaves) (value yellow))
   (owner-knows (about soil) (value wet))
   (owner-knows (about light) (value bright))
   (owner-knows (about pests) (value none))
   (owner-knows (about pot) (value no-holes)))

(deftemplate diagnosis (slot problem) (slot advice))

(defrule overwatering
   (observation (about leaves) (value yellow))
   (observation (about soil) (value wet))
   =>
   (assert (diagnosis (problem overwatering) (advice "let the soil dry out"))))

(defrule poor-drainage
   (diagnosis (problem overwatering))
   (observation (about pot) (value no-holes))
   =>
   (assert (diagnosis (problem poor-drainage) (advice "repot into a pot with holes"))))

(defrule too-dark
   (observation (about leaves) (value pale))
   (observation (about light) (value dim))
   =>
   (assert (diagnosis (problem too-dark) (advice "move it nearer a window"))))

; Answering a goal: ask about what the goal names, once.
(defrule ask-the-owner
   (need-observation (about ?what))
   (not (observation (about ?what)))
   (owner-knows (about ?what) (value ?answer))
   =>
   (printout t "Q: what about the plant's " ?what "?  A: " ?answer crlf)
   (assert (observation (about ?what) (value ?answer))))

(defrule report
   (declare (salience -10))
   (diagnosis (problem ?p) (advice ?a))
   =>
   (printout t "Diagnosis: " ?p " -- " ?a crlf))

(reset)
(run)
