"""The Python module: values both ways, facts, rules and agenda, functions,
print-out, errors, and the interpreter lock while rules run."""

import math
import sys
import threading
import time

import pytest

import zephro
from zephro import Symbol, FactRef

PEOPLE = """
(deftemplate person (slot name) (slot age (type INTEGER)) (multislot tags))
(defrule adult (person (name ?n) (age ?a&:(>= ?a 18)))
   => (printout t ?n " is an adult" crlf))
"""


@pytest.fixture
def engine():
    e = zephro.Engine()
    e.on_print = lambda name, text: None
    return e


def echo_engine():
    """An engine with a Python identity function, so values cross both ways."""
    e = zephro.Engine()
    e.define_function("py-echo", lambda x: x, 1, 1)
    return e


# --- values -----------------------------------------------------------------------------------

# What the engine computes, and the Python value it must arrive as.
ENGINE_TO_PYTHON = [
    ("(+ 1 2)", 3),
    ("(- 5 7)", -2),
    ("(/ 1 4)", 0.25),
    ("(* 1.5 2)", 3.0),
    ('(str-cat "a" b)', "ab"),
    ("(sym-cat a b)", Symbol("ab")),
    ("(> 2 1)", True),
    ("(< 2 1)", False),
    ("(create$)", []),
    ('(create$ a "a" 1 2.5)', [Symbol("a"), "a", 1, 2.5]),
    ("(integer 2147483647)", 2147483647),
    ('(str-cat "caf" "\u00e9")', "caf\u00e9"),
]


@pytest.mark.parametrize("text,expected", ENGINE_TO_PYTHON)
def test_values_arrive_as_python_values(text, expected):
    value = zephro.Engine().eval(text)
    assert value == expected
    assert type(value) is type(expected)
    if isinstance(value, list):
        assert [type(v) for v in value] == [type(v) for v in expected]


# Python values the engine takes, what the engine sees them as, and what
# comes back from a round trip through a rule-callable function.
PYTHON_VALUES = [
    (7, "dtInteger", 7),
    (-2147483648, "dtInteger", -2147483648),
    (2.5, "dtFloat", 2.5),
    ("red", "dtString", "red"),
    (Symbol("red"), "dtAtom", Symbol("red")),
    (True, "dtAtom", True),
    (False, "dtAtom", False),
    ([1, "b", Symbol("c")], "dtList", [1, "b", Symbol("c")]),
    ((1, 2), "dtList", [1, 2]),
    ("", "dtString", ""),
    ("\u00e9t\u00e9", "dtString", "\u00e9t\u00e9"),
]


@pytest.mark.parametrize("value,kind,back", PYTHON_VALUES)
def test_python_values_cross_into_the_engine_and_back(value, kind, back):
    e = echo_engine()
    e.define_function("sample", lambda: value, 0, 0)
    assert e.eval("(get-type (sample))") == Symbol(kind)
    result = e.eval("(py-echo (sample))")
    assert result == back and type(result) is type(back)


def test_a_symbol_and_a_string_of_one_text_stay_apart():
    e = echo_engine()
    e.define_function("the-string", lambda: "red", 0, 0)
    e.define_function("the-symbol", lambda: Symbol("red"), 0, 0)
    assert e.eval("(eq (the-symbol) red)") is True
    assert e.eval('(eq (the-string) "red")') is True
    assert e.eval("(eq (the-string) red)") is False


def test_none_is_nil():
    e = zephro.Engine()
    e.define_function("nothing", lambda: None, 0, 0)
    assert e.eval("(eq (nothing) nil)") is True
    assert e.eval("(nothing)") is None


def test_text_that_is_not_utf8_comes_back_as_the_same_bytes():
    e = echo_engine()
    odd = b"a\xffb".decode("utf-8", "surrogateescape")
    e.define_function("odd", lambda: odd, 0, 0)
    assert e.eval("(str-length (odd))") == 3
    assert e.eval("(py-echo (odd))") == odd


@pytest.mark.parametrize("value,error", [
    (2**31, ValueError),
    (-(2**31) - 1, ValueError),
    (object(), TypeError),
    ({"a": 1}, TypeError),
])
def test_values_the_engine_cannot_hold_are_refused_before_it_runs(engine, value, error):
    engine.build(PEOPLE)
    with pytest.raises(error):
        engine.assert_fact(template="person", name="Al", age=value)
    assert [f.template for f in engine.facts()] == ["Initial-Fact"]


def test_deeply_nested_lists_are_refused(engine):
    engine.build(PEOPLE)
    deep = []
    for _ in range(10000):
        deep = [deep]
    with pytest.raises(ValueError):
        engine.assert_fact(template="person", name="Al", tags=deep)


# --- facts ------------------------------------------------------------------------------------

def test_facts_of_a_template_carry_their_slots(engine):
    engine.build(PEOPLE)
    fid = engine.assert_fact(template="person", name="Al", age=30, tags=["a", Symbol("b")])
    fact = engine.fact(fid)
    assert (fact.id, fact.template, fact.ordered) == (fid, "person", False)
    assert fact.slots == {"name": "Al", "age": 30, "tags": ["a", Symbol("b")]}
    assert dict(fact) == fact.slots and fact["age"] == 30
    assert fact.values is None


def test_slots_left_out_take_their_defaults(engine):
    engine.build(PEOPLE.splitlines()[1])  # the template, without the rule on ages
    fact = engine.fact(engine.assert_fact(template="person", name="Bo"))
    assert fact["age"] is None and engine.eval("(get-slot-value %d age)" % fact.id) is None
    assert fact["tags"] == []


def test_an_integer_for_a_slot_of_floats_is_the_same_float(engine):
    engine.build("(deftemplate reading (slot at (type FLOAT)))")
    from_python = engine.fact(engine.assert_fact(template="reading", at=3))
    from_text = engine.fact(engine.assert_fact("(reading (at 4))"))
    assert from_python["at"] == 3.0 and type(from_python["at"]) is float
    assert type(from_text["at"]) is float


def test_ordered_facts_carry_their_values(engine):
    a = engine.assert_fact("(colour red 3)")
    b = engine.assert_fact(template="colour", values=[Symbol("blue"), 4])
    c = engine.assert_fact(template="single", values="one")
    facts = {f.id: f for f in engine.facts()}
    assert facts[a].values == [Symbol("red"), 3]
    assert facts[b].values == [Symbol("blue"), 4] and dict(facts[b]) == {"values": facts[b].values}
    assert facts[c].values == ["one"] and facts[c].slots is None


def test_fact_addresses_cross_as_fact_refs(engine):
    engine.build("(deftemplate link (slot to))")
    target = engine.assert_fact("(node a)")
    link = engine.assert_fact(template="link", to=FactRef(target))
    assert engine.fact(link)["to"] == FactRef(target)
    assert engine.eval("(get-slot-value (get-slot-value %d to) __Data)" % link) == [Symbol("a")]


def test_a_duplicate_fact_is_not_asserted_twice(engine):
    first = engine.assert_fact("(colour red)")
    assert engine.assert_fact(template="colour", values=[Symbol("red")]) in (first, -1)
    assert sum(f.template == "colour" for f in engine.facts()) == 1


def test_retract_reset_and_clear(engine):
    engine.build("(deffacts start (ready)) " + PEOPLE)
    engine.reset()
    assert [f.template for f in engine.facts()] == ["Initial-Fact", "ready"]
    fid = engine.assert_fact(template="person", name="Al", age=3)
    engine.retract(fid)
    assert engine.fact(fid) is None
    engine.clear()
    assert engine.rules() == []


def test_facts_as_json_go_out_and_back(engine):
    engine.build(PEOPLE)
    engine.assert_fact(template="person", name="Al", age=30, tags=[Symbol("x")])
    document = engine.facts_json()
    other = zephro.Engine()
    other.build(PEOPLE)
    other.clear()
    other.build(PEOPLE)
    assert other.load_facts_json(document) == 2
    strip = lambda facts: sorted((f.template, f.slots, f.values) for f in facts if f.slots)
    assert strip(other.facts()) == strip(engine.facts())


# --- rules, agenda, run -----------------------------------------------------------------------

def test_rules_and_agenda_in_firing_order(engine):
    engine.build("""
      (defrule low "runs last" (declare (salience -5)) (go ?x) => )
      (defrule high (declare (salience 10)) (go ?x) (go ?y&~?x) => )
    """)
    a = engine.assert_fact("(go 1)")
    b = engine.assert_fact("(go 2)")
    assert [(r.name, r.salience) for r in engine.rules()] == [("low", -5), ("high", 10)]
    assert engine.rules()[0].comment == "runs last"
    agenda = engine.agenda()
    assert [x.rule for x in agenda] == ["high", "high", "low", "low"]
    assert sorted(tuple(x.facts) for x in agenda if x.rule == "high") == [(a, b), (b, a)]
    assert engine.run(limit=3) == 3
    assert [x.rule for x in engine.agenda()] == ["low"]
    assert engine.run() == 1 and engine.agenda() == []


def test_run_limit_must_not_be_negative(engine):
    with pytest.raises(ValueError):
        engine.run(-1)


def test_load_reads_a_file(engine, tmp_path):
    path = tmp_path / "people.clp"
    path.write_text(PEOPLE)
    engine.load(str(path))
    assert [r.name for r in engine.rules()] == ["adult"]


# --- print-out --------------------------------------------------------------------------------

def test_print_out_goes_to_the_handler():
    e = zephro.Engine()
    seen = []
    e.on_print = lambda name, text: seen.append((name, text))
    e.build(PEOPLE)
    e.assert_fact(template="person", name="Al", age=30)
    e.run()
    assert seen == [("t", "Al is an adult\n")]


def test_print_out_goes_to_sys_stdout_by_default(capsys):
    e = zephro.Engine()
    e.build(PEOPLE)
    assert capsys.readouterr().out == ""  # building echoes nothing
    e.assert_fact(template="person", name="Al", age=30)
    e.run()
    assert capsys.readouterr().out == "Al is an adult\n"


def test_on_print_takes_a_callable_or_none(engine):
    with pytest.raises(TypeError):
        engine.on_print = 3
    engine.on_print = None
    assert engine.on_print is None


# --- functions --------------------------------------------------------------------------------

def test_rules_call_python_functions(engine):
    @engine.function("discount")
    def discount(price, percent):
        return price * (100 - percent) / 100

    engine.build("""
      (deftemplate order (slot id) (slot total) (slot net))
      (defrule price (order (id ?i) (total ?t) (net nil))
         ?o <- (order (id ?i))
         => (modify ?o (net (discount ?t 10))))
    """)
    engine.assert_fact(template="order", id=1, total=200)
    engine.run()
    assert [f["net"] for f in engine.facts() if f.template == "order"] == [180.0]


def test_decorator_names_the_function_after_the_python_one(engine):
    @engine.function()
    def add_one(x):
        return x + 1

    assert engine.eval("(add-one 1)") == 2


def test_a_python_function_may_call_the_engine_back(engine):
    engine.define_function("remember", lambda x: engine.assert_fact(template="seen", values=[x]))
    engine.build("(defrule r (item ?x) => (remember ?x))")
    engine.assert_fact("(item 5)")
    assert engine.run() == 1
    assert [f.values for f in engine.facts() if f.template == "seen"] == [[5]]


# --- errors -----------------------------------------------------------------------------------

def boom():
    raise KeyError("missing")


# Each call fails with the engine's message; the engine goes on afterwards.
ERRORS = [
    (lambda e: e.build("(defrule"), "Parsing Error"),
    (lambda e: e.build("(deftemplate place (slot x)) (defrule r (place (y 1)) =>)"), "y"),
    (lambda e: e.eval("(no-such-function 1)"), "no-such-function"),
    (lambda e: e.assert_fact(template="person", age="old"), "age"),
    (lambda e: e.assert_fact(template="person", height=2), "height"),
    (lambda e: e.assert_fact(template="nobody", name="x"), "nobody"),
    (lambda e: e.assert_fact("(broken"), ""),
    (lambda e: e.load("/no/such/file.clp"), "/no/such/file.clp"),
    (lambda e: e.eval("(boom)"), "Python function boom raised KeyError"),
    (lambda e: e.eval("(bad-result)"), "Python function bad-result returned"),
    (lambda e: e.eval("(boom 1)"), "boom"),
    (lambda e: e.load_facts_json("[{"), "Bad JSON"),
]


@pytest.mark.parametrize("call,fragment", ERRORS)
def test_errors_raise_zephro_error_and_leave_the_engine_usable(call, fragment):
    e = zephro.Engine()
    seen = []
    e.on_print = lambda name, text: seen.append(text)
    e.build(PEOPLE)
    e.define_function("boom", boom, 0, 0)
    e.define_function("bad-result", lambda: object(), 0, 0)
    with pytest.raises(zephro.Error) as raised:
        call(e)
    assert fragment in str(raised.value)
    e.assert_fact(template="person", name="Al", age=30)
    assert e.run() == 1 and seen[-1] == "Al is an adult\n"


def test_a_python_exception_is_the_cause(engine):
    engine.define_function("boom", boom, 0, 0)
    with pytest.raises(zephro.Error) as raised:
        engine.eval("(boom)")
    assert isinstance(raised.value.__cause__, KeyError)


def test_an_error_in_the_print_handler_stops_the_run():
    e = zephro.Engine()

    def handler(name, text):
        raise RuntimeError("screen gone")

    e.on_print = handler
    e.build(PEOPLE)
    e.assert_fact(template="person", name="Al", age=30)
    with pytest.raises(zephro.Error, match="on_print raised RuntimeError: screen gone"):
        e.run()
    e.on_print = None


def test_exit_raises_exit(engine):
    with pytest.raises(zephro.Exit):
        engine.eval("(exit)")
    assert engine.eval("(+ 1 1)") == 2


def test_function_arguments_are_counted(engine):
    engine.define_function("one", lambda x: x, 1, 1)
    with pytest.raises(zephro.Error, match="Too few arguments"):
        engine.eval("(one)")
    with pytest.raises(zephro.Error, match="Too many arguments"):
        engine.eval("(one 1 2)")
    with pytest.raises(ValueError):
        engine.define_function("none", lambda: 0, 2, 1)
    with pytest.raises(TypeError):
        engine.define_function("none", 5)


@pytest.mark.parametrize("name", ["", "two words", "(x", "say\"", "a;b", "?x", "$?x"])
def test_names_rules_cannot_call_are_refused(engine, name):
    with pytest.raises(ValueError):
        engine.define_function(name, lambda: 1)
    assert engine.eval("(+ 1 1)") == 2


def test_operator_names_are_function_names(engine):
    engine.define_function("<=>", lambda a, b: (a > b) - (a < b), 2, 2)
    assert engine.eval("(<=> 3 1)") == 1


# --- the interpreter lock ---------------------------------------------------------------------

def test_other_threads_run_while_rules_run():
    # Between the two print-outs the rules call no Python. The main thread
    # counts while the run is between them; it can only if the run does not
    # hold the interpreter lock. A long switch interval keeps the interpreter
    # from taking the lock away from the running thread by force, and the
    # counting loop gives it back on each turn (sleep(0)).
    e = zephro.Engine()
    started, finished = threading.Event(), threading.Event()

    def on_print(name, text):
        (started if text == "start" else finished).set()

    e.on_print = on_print
    e.build("""
      (defrule begin (count 0) => (printout t "start"))
      (defrule step (declare (salience -1)) ?c <- (count ?n&:(< ?n 100000))
         => (retract ?c) (assert (count (+ ?n 1))))
      (defrule end (count 100000) => (printout t "end"))
    """)
    e.assert_fact("(count 0)")
    interval = sys.getswitchinterval()
    sys.setswitchinterval(30)
    try:
        runner = threading.Thread(target=e.run)
        runner.start()
        started.wait()
        ticks = 0
        while not finished.is_set():
            ticks += 1
            time.sleep(0)
        runner.join()
    finally:
        sys.setswitchinterval(interval)
    assert ticks > 0
    assert [f.values for f in e.facts() if f.template == "count"] == [[100000]]


def test_two_threads_share_one_engine():
    e = zephro.Engine()
    e.build("(defrule tally ?i <- (item ?n) ?t <- (total ?s) => (retract ?i) "
            "(retract ?t) (assert (total (+ ?s ?n))))")
    e.assert_fact("(total 0)")

    def feed(start):
        for n in range(start, start + 200):
            e.assert_fact(template="item", values=[n])
            e.run()

    threads = [threading.Thread(target=feed, args=(k * 1000,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    (total,) = [f.values[0] for f in e.facts() if f.template == "total"]
    assert total == sum(n for k in range(4) for n in range(k * 1000, k * 1000 + 200))


def test_floats_keep_their_value():
    e = echo_engine()
    for x in (0.1, 1e300, -2.5e-300, math.pi):
        assert e.eval("(py-echo %r)" % x) == x
