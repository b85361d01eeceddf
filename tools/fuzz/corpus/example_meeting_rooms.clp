; Meeting-room scheduling: a day's meeting requests are placed in rooms and
; hours under hard constraints (the room must seat everyone and have a
; projector when the meeting needs one; the hour must be one the organiser
; accepts), by a greedy policy written as rules:
;
;   - requests are handled in order of priority, highest first;
;   - a request takes the earliest acceptable hour that has a suitable room
;     free, and of the suitable rooms free then the smallest one, so large
;     rooms stay available for large meetings;
;   - a request no suitable room can take at any acceptable hour is reported.
;
; At the end the timetable is printed hour by hour, rooms in alphabetical order.

(deftemplate room
   (slot name)
   (slot capacity (type INTEGER))
   (slot projector (default no)))

; A room that is still free at an hour. The capacity and the projector are
; copied in, so a rule can compare free rooms with a single pattern.
(deftemplate free
   (slot room)
   (slot hour (type INTEGER))
   (slot capacity (type INTEGER))
   (slot projector))

(deftemplate meeting
   (slot name)
   (slot size (type INTEGER))
   (slot projector (default no))      ; yes when the meeting needs one
   (multislot hours)                  ; the hours the organiser accepts
   (slot priority (type INTEGER))
   (slot status (default pending)))   ; pending, placed or unplaced

(deftemplate booking
   (slot meeting)
   (slot room)
   (slot hour (type INTEGER))
   (slot printed (default no)))

(deffacts building
   (room (name atlas) (capacity 12) (projector yes))
   (room (name birch) (capacity 6))
   (room (name cedar) (capacity 4) (projector yes))
   (room (name dune) (capacity 8))
   (hour 9)
   (hour 10)
   (hour 11))

(deffacts requests
   (meeting (name board-review) (size 10) (projector yes) (hours 9 10) (priority 90))
   (meeting (name sprint-planning) (size 7) (hours 9 10 11) (priority 80))
   (meeting (name design-critique) (size 4) (projector yes) (hours 9) (priority 70))
   (meeting (name customer-call) (size 3) (hours 10 11) (priority 60))
   (meeting (name all-hands-prep) (size 11) (projector yes) (hours 9) (priority 50))
   (meeting (name one-on-one) (size 2) (hours 9) (priority 40))
   (meeting (name training) (size 6) (projector yes) (hours 10 11) (priority 30)))

; TRUE when a room with `capacity` and `projector` suits a meeting of `size`
; that `needs` a projector or not.
(deffunction suits (?capacity ?projector ?size ?needs)
   (and (>= ?capacity ?size)
        (or (eq ?needs no) (eq ?projector yes))))

; Every room is free at every hour before anything is booked.
(defrule open-calendar
   (declare (salience 100))
   (room (name ?r) (capacity ?c) (projector ?p))
   (hour ?h)
   =>
   (assert (free (room ?r) (hour ?h) (capacity ?c) (projector ?p))))

(defrule place-meeting
   ?m <- (meeting (name ?name) (size ?n) (projector ?needs) (hours $?ok)
                  (priority ?pr) (status pending))
   ; no pending request outranks this one
   (not (meeting (status pending) (priority ?higher&:(> ?higher ?pr))))
   ?f <- (free (room ?r) (hour ?h&:(member$ ?h ?ok)) (capacity ?c) (projector ?p&:(suits ?c ?p ?n ?needs)))
   ; no suitable room is free at an earlier acceptable hour
   (not (free (hour ?h2&:(< ?h2 ?h)&:(member$ ?h2 ?ok)) (capacity ?c2)
              (projector ?p2&:(suits ?c2 ?p2 ?n ?needs))))
   ; no smaller suitable room is free at that hour
   (not (free (hour ?h) (capacity ?c3&:(< ?c3 ?c)) (projector ?p3&:(suits ?c3 ?p3 ?n ?needs))))
   =>
   (retract ?f)
   (modify ?m (status placed))
   (assert (booking (meeting ?name) (room ?r) (hour ?h)))
   (printout t "Placed " ?name " (" ?n " people) in " ?r " at " ?h ":00" crlf))

(defrule cannot-place
   ?m <- (meeting (name ?name) (size ?n) (projector ?needs) (hours $?ok)
                  (priority ?pr) (status pending))
   (not (meeting (status pending) (priority ?higher&:(> ?higher ?pr))))
   (not (free (hour ?h&:(member$ ?h ?ok)) (capacity ?c) (projector ?p&:(suits ?c ?p ?n ?needs))))
   =>
   (modify ?m (status unplaced))
   (printout t "No room for " ?name " (" ?n " people"
               (if (eq ?needs yes) then ", projector" else "") ") at hours " (implode$ ?ok) crlf))

; The timetable: the earliest booking not yet printed, rooms by name within an
; hour.
(defrule print-timetable-header
   (declare (salience -10))
   (exists (booking))
   (not (booking (printed yes)))
   =>
   (printout t crlf "Timetable" crlf))

(defrule print-booking
   (declare (salience -20))
   ?b <- (booking (meeting ?name) (room ?r) (hour ?h) (printed no))
   (not (booking (printed no) (hour ?h2&:(< ?h2 ?h))))
   (not (booking (printed no) (hour ?h) (room ?r2&:(< (str-compare ?r2 ?r) 0))))
   =>
   (modify ?b (printed yes))
   (format t "  %2d:00  %-6s %s%n" ?h ?r ?name))

(defrule print-unplaced
   (declare (salience -30))
   (meeting (name ?name) (status unplaced))
   =>
   (printout t "Still to place: " ?name crlf))

(reset)
(run)
