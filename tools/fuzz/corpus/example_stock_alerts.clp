; Stock control for a small warehouse: a day's sales and deliveries are
; applied to the stock in the order they happened; a product that falls to
; its reorder point is reordered from its supplier unless an order for it is
; already open; while any product is out of stock the warehouse is warned. At
; the close of the day a stock report is printed, products by code.
;
; The control of the day comes from salience and negation:
;   salience 10   reorder: runs as soon as a stock falls, before the next event
;   salience  5   the out-of-stock warning (exists: once, however many products)
;   salience  0   the next event: the one with the lowest number still waiting
;   salience -5   close of day, once no event is left
;   salience -10  the report

(deftemplate product
   (slot code)
   (slot name)
   (slot stock (type INTEGER))
   (slot reorder-point (type INTEGER))
   (slot reorder-quantity (type INTEGER))
   (slot reported (default no)))

(deftemplate event
   (slot number (type INTEGER))
   (slot kind)                           ; sale or delivery
   (slot code)
   (slot quantity (type INTEGER)))

(deftemplate order
   (slot code)
   (slot quantity (type INTEGER))
   (slot status (default open)))         ; open or received

(deffacts warehouse
   (phase trading)
   (product (code A100) (name widget) (stock 40) (reorder-point 15) (reorder-quantity 50))
   (product (code B200) (name gadget) (stock 8) (reorder-point 10) (reorder-quantity 30))
   (product (code C300) (name sprocket) (stock 5) (reorder-point 5) (reorder-quantity 20))
   (product (code D400) (name gizmo) (stock 12) (reorder-point 4) (reorder-quantity 10)))

(deffacts the-day
   (event (number 1) (kind sale) (code A100) (quantity 20))
   (event (number 2) (kind sale) (code C300) (quantity 5))
   (event (number 3) (kind sale) (code A100) (quantity 10))
   (event (number 4) (kind delivery) (code C300) (quantity 20))
   (event (number 5) (kind sale) (code D400) (quantity 12))
   (event (number 6) (kind sale) (code B200) (quantity 10))
   (event (number 7) (kind delivery) (code B200) (quantity 30))
   (event (number 8) (kind sale) (code B200) (quantity 10)))

; --- reordering and warnings ---------------------------------------------------

(defrule reorder
   (declare (salience 10))
   (phase trading)
   (product (code ?c) (name ?n) (stock ?s) (reorder-point ?rp&:(<= ?s ?rp))
            (reorder-quantity ?q))
   (not (order (code ?c) (status open)))
   =>
   (assert (order (code ?c) (quantity ?q)))
   (printout t "  reorder " ?q " of " ?c " (" ?n "): " ?s " left, reorder point " ?rp crlf))

(defrule out-of-stock-warning
   (declare (salience 5))
   (phase trading)
   (exists (product (stock 0)))
   =>
   (printout t "  warning: out of stock" crlf))

; --- the events, in order --------------------------------------------------------

(defrule sell
   ?e <- (event (number ?i) (kind sale) (code ?c) (quantity ?q))
   (not (event (number ?j&:(< ?j ?i))))
   ?p <- (product (code ?c) (stock ?s&:(>= ?s ?q)))
   =>
   (retract ?e)
   (modify ?p (stock (- ?s ?q)))
   (printout t "#" ?i " sold " ?q " of " ?c ", " (- ?s ?q) " left" crlf))

(defrule refuse-sale
   ?e <- (event (number ?i) (kind sale) (code ?c) (quantity ?q))
   (not (event (number ?j&:(< ?j ?i))))
   (product (code ?c) (stock ?s&:(< ?s ?q)))
   =>
   (retract ?e)
   (printout t "#" ?i " cannot sell " ?q " of " ?c ": only " ?s " in stock" crlf))

(defrule receive
   ?e <- (event (number ?i) (kind delivery) (code ?c) (quantity ?q))
   (not (event (number ?j&:(< ?j ?i))))
   ?o <- (order (code ?c) (status open))
   ?p <- (product (code ?c) (stock ?s))
   =>
   (retract ?e)
   (modify ?o (status received))
   (modify ?p (stock (+ ?s ?q)))
   (printout t "#" ?i " received " ?q " of " ?c ", " (+ ?s ?q) " in stock" crlf))

(defrule refuse-delivery
   ?e <- (event (number ?i) (kind delivery) (code ?c) (quantity ?q))
   (not (event (number ?j&:(< ?j ?i))))
   (not (order (code ?c) (status open)))
   =>
   (retract ?e)
   (printout t "#" ?i " refused a delivery of " ?q " of " ?c ": nothing on order" crlf))

; --- the close of the day ------------------------------------------------------------

(defrule close-day
   (declare (salience -5))
   ?t <- (phase trading)
   (not (event))
   =>
   (retract ?t)
   (assert (phase report))
   (printout t crlf "Stock at close" crlf))

; One line per product, the lowest code not yet reported first.
(defrule report-on-order
   (declare (salience -10))
   (phase report)
   ?p <- (product (code ?c) (name ?n) (stock ?s) (reported no))
   (not (product (reported no) (code ?other&:(< (str-compare ?other ?c) 0))))
   (order (code ?c) (quantity ?q) (status open))
   =>
   (modify ?p (reported yes))
   (format t "  %-5s %-9s %3d   %d on order%n" ?c ?n ?s ?q))

(defrule report-stock
   (declare (salience -10))
   (phase report)
   ?p <- (product (code ?c) (name ?n) (stock ?s) (reported no))
   (not (product (reported no) (code ?other&:(< (str-compare ?other ?c) 0))))
   (not (order (code ?c) (status open)))
   =>
   (modify ?p (reported yes))
   (format t "  %-5s %-9s %3d%n" ?c ?n ?s))

(reset)
(run)
