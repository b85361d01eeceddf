; A loan desk: applications for instalment loans are priced and decided by
; the bank's lending policy. The policy's figures are global variables, so an
; analyst can change them in one place; the arithmetic lives in deffunctions,
; and the rules only decide. Money prints with two decimals.
;
; Policy:
;   - a credit score below ?*min-score* is declined outright;
;   - the yearly rate is the base rate plus a premium by score band;
;   - the monthly instalment follows the annuity formula;
;   - the instalment plus the applicant's other monthly debts may take at most
;     ?*max-debt-ratio* of the monthly income; otherwise the application is
;     declined, with a counter-offer for the largest amount that would fit
;     over the same term, when there is one.

(defglobal ?*base-rate* = 0.045         ; yearly rate before the risk premium
           ?*min-score* = 600
           ?*max-debt-ratio* = 0.36
           ?*approved* = 0                 ; running totals for the summary
           ?*approved-amount* = 0
           ?*declined* = 0)

(deftemplate application
   (slot applicant)
   (slot income (type INTEGER))          ; per month
   (slot debts (type INTEGER))           ; other repayments per month
   (slot score (type INTEGER))           ; credit score
   (slot amount (type INTEGER))
   (slot months (type INTEGER))
   (slot status (default new)))          ; new, priced, approved, declined

(deftemplate quote
   (slot applicant)
   (slot rate (type FLOAT))              ; yearly
   (slot payment (type FLOAT))           ; per month
   (slot ratio (type FLOAT)))            ; all monthly debts over income

(deffacts applications
   (application (applicant ana) (income 5200) (debts 400) (score 780) (amount 30000) (months 60))
   (application (applicant ben) (income 3100) (debts 650) (score 690) (amount 25000) (months 48))
   (application (applicant chen) (income 4500) (debts 300) (score 655) (amount 12000) (months 36))
   (application (applicant dara) (income 2800) (debts 200) (score 580) (amount 5000) (months 24))
   (application (applicant eli) (income 2000) (debts 690) (score 720) (amount 8000) (months 36)))

; --- the arithmetic ---------------------------------------------------------

; The premium over the base rate for a credit score.
(deffunction risk-premium (?score)
   (if (>= ?score 760) then 0.0
    else (if (>= ?score 700) then 0.01
    else (if (>= ?score 640) then 0.025
    else 0.05))))

(deffunction yearly-rate (?score)
   (+ ?*base-rate* (risk-premium ?score)))

; The monthly instalment that repays ?principal over ?months at ?yearly-rate.
(deffunction monthly-payment (?principal ?yearly-rate ?months)
   (bind ?r (/ ?yearly-rate 12))
   (if (= ?r 0)
    then (/ ?principal ?months)
    else (/ (* ?principal ?r) (- 1 (** (+ 1 ?r) (- 0 ?months))))))

; The principal that a monthly instalment of ?payment repays: the inverse of
; monthly-payment.
(deffunction affordable-principal (?payment ?yearly-rate ?months)
   (bind ?r (/ ?yearly-rate 12))
   (if (= ?r 0)
    then (* ?payment ?months)
    else (/ (* ?payment (- 1 (** (+ 1 ?r) (- 0 ?months)))) ?r)))

; Rounds an amount down to whole hundreds, as counter-offers are made.
(deffunction whole-hundreds (?x)
   (* 100 (div (integer ?x) 100)))

(deffunction money (?x)
   (str-format "%.2f" ?x))

(deffunction percent (?x)
   (str-cat (str-format "%.1f" (* 100 ?x)) "%"))

; --- the decisions ------------------------------------------------------------

(defrule decline-low-score
   (declare (salience 10))
   ?a <- (application (applicant ?who) (score ?s&:(< ?s ?*min-score*)) (status new))
   =>
   (modify ?a (status declined))
   (bind ?*declined* (+ ?*declined* 1))
   (printout t ?who ": declined, credit score " ?s " is below " ?*min-score* crlf))

(defrule price
   ?a <- (application (applicant ?who) (income ?income) (debts ?debts) (score ?s)
                      (amount ?amount) (months ?n) (status new))
   =>
   (bind ?rate (yearly-rate ?s))
   (bind ?payment (monthly-payment ?amount ?rate ?n))
   (modify ?a (status priced))
   (assert (quote (applicant ?who) (rate ?rate) (payment ?payment)
                  (ratio (/ (+ ?debts ?payment) ?income)))))

(defrule approve
   ?a <- (application (applicant ?who) (amount ?amount) (months ?n) (status priced))
   (quote (applicant ?who) (rate ?rate) (payment ?payment)
          (ratio ?ratio&:(<= ?ratio ?*max-debt-ratio*)))
   =>
   (modify ?a (status approved))
   (bind ?*approved* (+ ?*approved* 1))
   (bind ?*approved-amount* (+ ?*approved-amount* ?amount))
   (printout t ?who ": approved " ?amount " over " ?n " months at " (percent ?rate)
               ", " (money ?payment) " a month (debt ratio " (percent ?ratio) ")" crlf))

(defrule decline-debt-ratio
   ?a <- (application (applicant ?who) (income ?income) (debts ?debts) (months ?n)
                      (status priced))
   (quote (applicant ?who) (rate ?rate) (ratio ?ratio&:(> ?ratio ?*max-debt-ratio*)))
   =>
   (modify ?a (status declined))
   (bind ?*declined* (+ ?*declined* 1))
   (printout t ?who ": declined, debt ratio " (percent ?ratio) " is above "
               (percent ?*max-debt-ratio*) crlf)
   (bind ?room (- (* ?income ?*max-debt-ratio*) ?debts))
   (if (> ?room 0)
    then (printout t "   counter-offer: up to "
                     (whole-hundreds (affordable-principal ?room ?rate ?n))
                     " over " ?n " months" crlf)
    else (printout t "   no counter-offer: other debts already use the allowance" crlf)))

(defrule summary
   (declare (salience -10))
   =>
   (printout t crlf ?*approved* " approved for a total of " ?*approved-amount*
               ", " ?*declined* " declined" crlf))

(reset)
(run)
