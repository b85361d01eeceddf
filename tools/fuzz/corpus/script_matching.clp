; Joins, negation, tests and modify through a small rule base.
(deftemplate person (slot name) (slot age (type INTEGER)))
(deftemplate adult (slot name))

(defrule mark-adult
   (person (name ?n) (age ?a&:(>= ?a 18)))
   (not (adult (name ?n)))
   =>
   (assert (adult (name ?n))))

(defrule birthday
   ?p <- (person (name ?n) (age 17))
   =>
   (modify ?p (age 18))
   (printout t ?n " turns 18" crlf))

(defrule report
   (declare (salience -5))
   (adult (name ?n))
   =>
   (printout t ?n " is an adult" crlf))

(deffacts people
   (person (name ann) (age 30))
   (person (name bob) (age 17))
   (person (name cid) (age 9)))

(reset)
(run)
