; Backward chaining end to end: goals appear in the fact trace right after
; the fact whose partial match raised them, carry what the pattern fixes,
; are answered by rules, and are not raised twice.
(deftemplate price (slot item) (slot amount))
(do-backward-chaining price)
(deftemplate order (slot item) (slot quantity))
(defrule total
   (order (item ?i) (quantity ?q))
   (price (item ?i) (amount ?a))
   =>
   (printout t ?i ": " (* ?q ?a) crlf))
(defrule look-up-price
   (need-price (item ?i))
   =>
   (printout t "looking up the price of " ?i crlf)
   (assert (price (item ?i) (amount (str-length ?i)))))
(watch facts)
(reset)
(assert (order (item tea) (quantity 3)))
(assert (order (item tea) (quantity 5)))
(assert (price (item milk) (amount 2)))
(assert (order (item milk) (quantity 4)))
(run)
(unwatch facts)
(facts)
