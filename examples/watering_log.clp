; A watering log that asks the gardener. Each plant is watered every so many
; days; the rules find the plants that are due, ask whether to water them now,
; and take new plants for the log.
;
; Dates are numbers: days counted from 1899-12-30, with the time of day as
; the fraction. "Due" is plain arithmetic on them, and datetime-str-format
; writes them for people. The log pretends today is Monday 7 December 2026
; so that its output stays the same; a real log would use (system-date).
;
; Questions go through the dialog functions: message-dlg, input-query,
; input-box and show-message. At the shell they ask on the terminal (an empty
; answer cancels); a program that embeds the engine shows its own dialogs
; through the engine's OnMessageDlg, OnInputQuery and OnShowMessage handlers.
; Run it with the answers piped in:   zephro watering_log.clp < watering_log.answers

(defglobal ?*today* = (encode-date 2026 12 7))

(deffunction day-text (?date)
   (datetime-str-format "ddd d mmm" ?date))

(deftemplate plant
   (slot name)
   (slot every (type INTEGER))               ; days between waterings
   (slot last-watered (type FLOAT)))         ; a date

(deffacts garden
   (plant (name fern) (every 3) (last-watered (encode-date 2026 12 3)))
   (plant (name cactus) (every 21) (last-watered (encode-date 2026 11 10)))
   (plant (name basil) (every 1) (last-watered (encode-date 2026 12 6)))
   (plant (name orchid) (every 7) (last-watered (encode-date 2026 12 2))))

(deftemplate asked (slot name))

(defrule due
   "A plant whose days are up: ask whether it gets water now."
   ?p <- (plant (name ?n) (every ?e) (last-watered ?l&:(>= (- ?*today* ?l) ?e)))
   (not (asked (name ?n)))
   =>
   (assert (asked (name ?n)))
   (bind ?answer
      (message-dlg (str-cat "The " ?n " was last watered on " (day-text ?l) ". Water it now?")
                   mtConfirmation "[mbYes, mbNo]"))
   (if (eq ?answer mrYes) then
      (modify ?p (last-watered ?*today*))
      (printout t "Watered the " ?n "; next on " (day-text (+ ?*today* ?e)) "." crlf)
    else
      (printout t "The " ?n " waits." crlf)))

(defrule new-plants
   "Once nothing is due, ask for plants to add until the answer is empty."
   (declare (salience -10))
   ?ask <- (ask-for-plants)
   =>
   (retract ?ask)
   (bind ?name (input-query "New plant" "Name of a plant to add (empty when done)?"))
   (if (neq ?name FALSE) then
      (bind ?every (integer (input-box "New plant" "Water it every how many days?" "7")))
      (assert (plant (name (sym-cat ?name)) (every ?every) (last-watered ?*today*))
              (asked (name (sym-cat ?name)))
              (ask-for-plants))))

(defrule schedule
   "Last: the next watering of every plant."
   (declare (salience -20))
   (plant (name ?n) (every ?e) (last-watered ?l))
   =>
   (printout t "  " ?n ": " (day-text (+ ?l ?e)) crlf))

(reset)
(assert (ask-for-plants))
(run)
(show-message (str-cat "Log closed on " (datetime-str-format "dddd d mmmm yyyy" ?*today*) "."))
