; A fuzzy controller: how fast should a greenhouse fan run?
;
; Temperature and humidity are measured as numbers. Each is turned into a
; fuzzy value (a narrow triangle around the reading), rules say what the fan
; should do for each combination of "cool / warm / hot" and "dry / humid",
; and the engine does the rest:
;   - a rule matches a reading to a degree (how far "about 27 C" is "warm"),
;   - what a rule asserts is weakened to that degree (correlation),
;   - the conclusions of several rules about one fan are combined (inference),
;   - one number is read back from the combined fuzzy value (defuzzification).

(deftype temperature "Air temperature" extends (type FUZZY)
   (range 0 50) (units C)
   (values (term cool (z 15 25))
           (term warm (pi 25 8))
           (term hot (s 25 35))))

(deftype humidity "Relative humidity" extends (type FUZZY)
   (range 0 100) (units %)
   (values (term dry ((0 1) (40 1) (70 0)))
           (term humid ((40 0) (70 1) (100 1)))))

(deftype fan-speed "Share of the fan's full speed" extends (type FUZZY)
   (range 0 100) (units %)
   (values (term off ((0 1) (10 0)))
           (term low (tri 0 25 50))
           (term medium (tri 25 50 75))
           (term high (tri 50 100 100))))

(deftemplate reading (slot house) (slot temp (type temperature)) (slot humidity (type humidity)))
(deftemplate fan (slot house) (slot speed (type fan-speed)))

; Crisp measurements, turned into fuzzy readings: "about x", a triangle one
; unit either side of the number.
(deffunction about (?x) (tri (- ?x 1) ?x (+ ?x 1)))

(deffacts measurements
   (reading (house north) (temp (about 17)) (humidity (about 30)))
   (reading (house south) (temp (about 27)) (humidity (about 55)))
   (reading (house east) (temp (about 34)) (humidity (about 80))))

; The rule base. Patterns name terms; each conclusion is asserted with the
; strength of its match.
(defrule cool-means-off
   (reading (house ?h) (temp cool))
   =>
   (assert (fan (house ?h) (speed off))))

(defrule warm-and-dry
   (reading (house ?h) (temp warm) (humidity dry))
   =>
   (assert (fan (house ?h) (speed low))))

(defrule warm-and-humid
   (reading (house ?h) (temp warm) (humidity humid))
   =>
   (assert (fan (house ?h) (speed medium))))

(defrule hot-means-high
   (reading (house ?h) (temp hot))
   =>
   (assert (fan (house ?h) (speed high))))

(defrule very-humid-means-more
   (reading (house ?h) (humidity very humid))
   =>
   (assert (fan (house ?h) (speed medium or high))))

; Once every rule has spoken, read one number from each fan's fuzzy speed.
(defrule report
   (declare (salience -10))
   ?f <- (fan (house ?h))
   =>
   (printout t ?h ": fan at " (integer (round (moment-defuzzify ?f))) "%, as fuzzy: "
             (get-fs ?f) crlf))

(reset)
(run)

; The terms the rules spoke in, drawn: o off, l low, m medium, h high.
(plot-fuzzy-value t "olmh" 0 100 fan-speed)
