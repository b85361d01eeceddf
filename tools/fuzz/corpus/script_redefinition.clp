; A call keeps the deffunction it first ran when the name is defined again.
(deffunction g () 1)
(deffunction h () (g))
(printout t "h " (h) crlf)
(deffunction g () 2)
(printout t "h " (h) " g " (g) crlf)
; A caller that had not run before the redefinition binds the new function.
(deffunction g2 () 1)
(deffunction h2 () (g2))
(deffunction g2 () 2)
(printout t "h2 " (h2) crlf)
; An old recursive function goes on calling itself.
(deffunction down (?n) (if (> ?n 0) then (down (- ?n 1)) else old))
(deffunction use () (down 3))
(printout t (use) crlf)
(deffunction down (?n) new)
(printout t (use) " " (down 3) crlf)
; Arguments are evaluated in the caller's context.
(deffunction pair (?a ?b) (create$ ?a ?b))
(bind ?a 100)
(printout t (pair 1 ?a) crlf)
; A slot the template lacks is an error, and the fact stays.
(deftemplate item (slot a))
(assert (item (a 1)))
(modify 1 (zz 5))
(duplicate 1 (zz 5))
(facts)
(modify 1 (a 2))
(facts)
