; Files the engine writes and reads. A facts file is data: a call in it is an
; error, not run, and a file with an error asserts nothing; errors name the
; file and the line. A save that cannot write what reads back as the same
; facts fails before it touches the file.
(open "victim" v "w")
(printout v "still here" crlf)
(close v)

(open "bad.facts" f "w")
(printout f "(a 1)" crlf "(a 2)" crlf "(a 3))" crlf "(a 4)" crlf)
(close f)
(load-facts "bad.facts")
(open "call.facts" f "w")
(printout f "(a 1)" crlf "(b (remove \"victim\"))" crlf)
(close f)
(load-facts "call.facts")
(facts)

(assert (a ok))
(save-facts "keep.facts")
(assert (b (sym-cat "(remove \"victim\")")))
(save-facts "keep.facts")
(save-facts "keep.facts" a typo-template)
(open "keep.facts" k)
(printout t (readline k) crlf (readline k) crlf (readline k) crlf)
(close k)

; A single slot holding a list, and floats that "%.4f" would round.
(deftemplate t (slot s))
(reset)
(assert (t (s (create$ a "b c"))) (n 2.5 0.1 (/ 2 3)))
(save-facts "t.facts")
(reset)
(load-facts "t.facts")
(facts)
(open "t.facts" k)
(printout t (readline k) crlf (readline k) crlf (readline k) crlf)
(close k)

; Dribble output that cannot be written is reported; the capture ends there.
(dribble-on "/dev/full")
(printout t "printed after the failed write" crlf)
(dribble-off)
(printout t "after dribble-off" crlf)

(open "victim" v)
(printout t (readline v) crlf)
(close v)
