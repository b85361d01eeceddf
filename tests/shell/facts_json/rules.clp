; Prices orders: each order's total is its quantity times the item's price.
(deftemplate price (slot item) (slot each (type FLOAT)))
(deftemplate order (slot item) (slot qty (type INTEGER)) (slot total (type FLOAT) (default 0.0)))
(defrule price-order
  ?o <- (order (item ?i) (qty ?q) (total 0.0))
  (price (item ?i) (each ?e))
  =>
  (modify ?o (total (* ?q ?e))))
(reset)
