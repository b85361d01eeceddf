; Defined types: declared, used by templates, violated, and recovered from.
(deftype colour "paint colours" extends (type SYMBOL) (allowed-symbols red green blue))
(deftype percent extends (type INTEGER FLOAT) (range 0 100) (units "%"))
(deftype dimmed extends (type percent) (range 0 50))
(deftemplate lamp
  (slot colour (type colour))
  (slot level (type dimmed))
  (multislot tags (type SYMBOL) (cardinality 0 2)))
(defrule report
  (lamp (colour ?c) (level ?l))
  =>
  (printout t "lamp " ?c " at " ?l crlf))
(list-deftypes)
(ppdeftype dimmed)
(ppdeftype nothing)
(is-deftype colour)
(is-deftype lamp)

; Static checks: literal values are refused while parsing.
(assert (lamp (colour purple)))
(assert (lamp (level 75)))
(assert (lamp (tags a b c)))
(deftype broken extends (type INTEGER) (range 10 1))
(assert (lamp (colour green) (level 20)))

; Dynamic checks: computed values are refused when they are stored.
(get-dynamic-constraint-checking)
(set-dynamic-constraint-checking TRUE)
(assert (lamp (level (* 10 6))))
(modify 1 (colour (sym-cat bl ack)))
(modify 1 (colour (sym-cat bl ue)) (level (/ 50 2)))
(facts)
(run)

; Removing a type takes its templates, facts and rules with it.
(undeftype percent)
(list-deftypes)
(facts)
(rules)
(clear)
(list-deftypes)
