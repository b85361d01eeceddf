"""Triage of help-desk tickets: rules decide, Python supplies the data and a
working-hours calendar, and reads the results back.

Run from the repository, after building:
    PYTHONPATH=build/python python3 examples/python/triage.py
"""

import zephro

RULES = """
(deftemplate ticket (slot id) (slot customer) (slot text) (slot priority (default normal)))
(deftemplate customer (slot name) (slot plan))
(deftemplate deadline (slot ticket) (slot hours))

(defrule outage-is-urgent
   ?t <- (ticket (text ?x&:(str-index "down" ?x)) (priority normal))
   =>
   (modify ?t (priority urgent)))

(defrule premium-customers-come-first
   ?t <- (ticket (customer ?c) (priority normal))
   (customer (name ?c) (plan premium))
   =>
   (modify ?t (priority high)))

(defrule set-deadline
   (declare (salience -10))
   (ticket (id ?id) (priority ?p))
   (not (deadline (ticket ?id)))
   =>
   (bind ?h (response-hours ?p))
   (assert (deadline (ticket ?id) (hours ?h)))
   (printout t "ticket " ?id ": " ?p ", answer within " ?h " h" crlf))
"""

engine = zephro.Engine()
engine.build(RULES)


@engine.function("response-hours", min_args=1, max_args=1)
def response_hours(priority):
    """Working hours allowed for an answer, by priority (a symbol)."""
    return {"urgent": 1, "high": 4}.get(priority, 24)


customers = [("acme", "premium"), ("globex", "basic")]
tickets = [
    (1, "globex", "printer jams on page 2"),
    (2, "acme", "invoice has the wrong address"),
    (3, "globex", "web shop is down since 9:00"),
]
for name, plan in customers:
    engine.assert_fact(template="customer", name=name, plan=zephro.Symbol(plan))
for number, customer, text in tickets:
    engine.assert_fact(template="ticket", id=number, customer=customer, text=text)

fired = engine.run()

deadlines = {f["ticket"]: f["hours"] for f in engine.facts() if f.template == "deadline"}
print("%d rules fired; total answer time %d hours" % (fired, sum(deadlines.values())))
try:
    engine.eval("(response-hours)")
except zephro.Error as error:
    print("error:", error)
