; After more errors than the parser's limit (10) the rest of the file is not
; read, and a last line says so and where the skipped part begins.
(bogus-fn 1)
(bogus-fn 2)
(bogus-fn 3)
(bogus-fn 4)
(bogus-fn 5)
(bogus-fn 6)
(bogus-fn 7)
(bogus-fn 8)
(bogus-fn 9)
(bogus-fn 10)
(bogus-fn 11)

(defrule important (a) => )
(printout t "last line ran" crlf)
