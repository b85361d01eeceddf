"""Zephro, a forward-chaining inference engine, for Python programs.

    import zephro

    engine = zephro.Engine()
    engine.build('''
        (deftemplate person (slot name) (slot age (type INTEGER)))
        (defrule adult (person (name ?n) (age ?a&:(>= ?a 18)))
           => (printout t ?n " is an adult" crlf))''')
    engine.assert_fact(template="person", name="Al", age=30)
    engine.run()                       # prints "Al is an adult"

Values cross over one to one: integers (32 bits in the engine), floats,
strings (str), symbols (Symbol, a str subclass, so that a symbol and a string
of the same text stay apart), TRUE and FALSE (bool), nil (None),
multifields (list) and fact addresses (FactRef). Every error of the engine is
raised as zephro.Error with the engine's own message, and the engine stays
usable afterwards.
"""

from collections import namedtuple


class Error(Exception):
    """An error the engine reported: the text is the engine's message."""


class Exit(Error):
    """The program called (exit)."""


class Symbol(str):
    """A symbol of the engine (red, TRUE, nil are symbols; "red" is a string)."""

    __slots__ = ()

    def __repr__(self):
        return "Symbol(%s)" % str.__repr__(self)


class FactRef:
    """The address of a fact, as a slot or a function can hold it."""

    __slots__ = ("id",)

    def __init__(self, id):
        self.id = id

    def __eq__(self, other):
        return isinstance(other, FactRef) and other.id == self.id

    def __hash__(self):
        return hash(("FactRef", self.id))

    def __repr__(self):
        return "FactRef(%d)" % self.id


class Fact:
    """A fact of working memory, as it was when it was read.

    A fact of a deftemplate has .slots (a dict by slot name) and maps its slot
    names to their values, so dict(fact) is its slots. An ordered fact, such
    as (colour red), has .values (a list) and maps "values" to that list.
    """

    __slots__ = ("id", "template", "slots", "values")

    def __init__(self, id, template, slots=None, values=None):
        self.id = id
        self.template = template
        self.slots = slots
        self.values = values

    @property
    def ordered(self):
        return self.slots is None

    def _mapping(self):
        return {"values": self.values} if self.slots is None else self.slots

    def keys(self):
        return self._mapping().keys()

    def __getitem__(self, name):
        return self._mapping()[name]

    def __iter__(self):
        return iter(self._mapping())

    def __len__(self):
        return len(self._mapping())

    def __eq__(self, other):
        return (isinstance(other, Fact) and (self.id, self.template, self.slots, self.values) ==
                (other.id, other.template, other.slots, other.values))

    __hash__ = None

    def __repr__(self):
        if self.slots is None:
            return "Fact(%d, %r, values=%r)" % (self.id, self.template, self.values)
        return "Fact(%d, %r, slots=%r)" % (self.id, self.template, self.slots)


Rule = namedtuple("Rule", "name salience comment")
Rule.__doc__ = "A rule: its name, salience and comment."

Activation = namedtuple("Activation", "rule salience facts")
Activation.__doc__ = "A rule ready to fire: its name, salience and the ids of the facts it matched."

from . import _zephro  # noqa: E402  (the types above are handed to it)

_zephro._set_types(Error, Exit, Symbol, FactRef, Fact, Rule, Activation)


class Engine(_zephro.Engine):
    """An inference engine: knowledge, working memory and agenda.

    Print-out (printout t ..., format t ..., watch traces) goes to on_print,
    called as on_print(logical_name, text); by default it is written to
    sys.stdout. The engine does not echo what it builds or evaluates.
    """

    def assert_fact(self, text=None, /, template=None, **slots):
        """Asserts a fact and returns its id (-1 when it was already there).

        engine.assert_fact("(colour red)") reads the fact from text;
        engine.assert_fact(template="person", name="Al", age=30) fills the
        slots of a deftemplate's fact (the others take their defaults), and
        engine.assert_fact(template="colour", values=["red"]) makes an
        ordered fact.
        """
        if text is not None:
            if template is not None or slots:
                raise TypeError("assert_fact takes either a text or a template with slots")
            return self._assert_text(text)
        if template is None:
            raise TypeError("assert_fact needs a text or template=")
        return self._assert_slots(template, slots)

    def function(self, name=None, *, min_args=0, max_args=None):
        """Decorator: makes the Python function callable from rules.

            @engine.function("discount")
            def discount(price, percent):
                return price * (100 - percent) / 100

        Without a name the function is called by its Python name with
        underscores made dashes (add_one becomes add-one). min_args and
        max_args bound the number of arguments (max_args None: no bound).
        """
        def register(fn):
            self.define_function(name or fn.__name__.replace("_", "-"), fn, min_args, max_args)
            return fn
        return register


__all__ = ["Engine", "Error", "Exit", "Symbol", "FactRef", "Fact", "Rule", "Activation"]
