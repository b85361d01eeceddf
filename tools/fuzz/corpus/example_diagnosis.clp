; A small diagnosis expert system: symptoms observed on a car are facts;
; rules chain from symptoms to findings and from findings to advice.

(deftemplate symptom
   "Something the driver noticed."
   (slot name)
   (slot severity (type INTEGER) (default 1)))

(deftemplate finding
   (slot cause)
   (slot certainty (type INTEGER)))

(deffacts observations
   (symptom (name engine-cranks-slowly) (severity 2))
   (symptom (name headlights-dim))
   (symptom (name clicking-on-start) (severity 3))
   (symptom (name sweet-smell)))

(defrule weak-battery
   (declare (salience 10))
   (symptom (name engine-cranks-slowly))
   (symptom (name headlights-dim))
   =>
   (assert (finding (cause battery) (certainty 80))))

(defrule starter-fault
   (symptom (name clicking-on-start) (severity ?s&:(> ?s 2)))
   (not (finding (cause battery)))
   =>
   (assert (finding (cause starter) (certainty 60))))

(defrule coolant-leak
   (symptom (name sweet-smell))
   =>
   (assert (finding (cause coolant-leak) (certainty 70))))

(defrule advise
   (declare (salience -10))
   (finding (cause ?c) (certainty ?p))
   =>
   (printout t "Likely cause: " ?c " (" ?p "% certain)" crlf))

(defrule summary
   (declare (salience -20))
   =>
   (printout t "Diagnosis complete." crlf))

(reset)
(run)
