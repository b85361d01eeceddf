#!/usr/bin/env python3
"""One fact of many fields, and its counterpart of as many one-field facts.

usage: multifield.py [--flat] N [OUT]

The program asserts (data 0 1 ... N-1), one fact of N integer fields, then
matches it three ways: whole, to sum and count its fields; by a rule that
splits it at every field (`(data $? ?v&:(= (mod ?v 1000) 0) $?)`) and fires
for each multiple of 1000; and by a rule that reads its last field. With --flat the same integers are N facts (item V)
and the same three rules read them: a sum over all of them, a rule that
fires for each multiple of 1000, and one that picks the last one out. The
two give one summary, so the cost per field of the one fact can be set
beside the cost per fact of the many.

The integers are written into the program (one assert-string would do as
well): the language builds a list of N by N insertions otherwise. OUT is the
program; its summary goes to OUT with .expected in place of .clp. Without
OUT the program goes to standard output.
"""
import sys

from clp import write

COMMON = r"""
(defglobal ?*sum* = 0 ?*count* = 0 ?*hits* = 0 ?*hit-sum* = 0 ?*picked* = -1)
"""

WIDE = r"""
(defrule total
   (data $?all)
   =>
   (bind ?*count* (length$ ?all))
   (foreach ?v ?all (bind ?*sum* (mod (+ ?*sum* ?v) 1000003))))

(defrule every-thousandth
   (data $? ?v&:(= (mod ?v 1000) 0) $?)
   =>
   (bind ?*hits* (+ ?*hits* 1))
   (bind ?*hit-sum* (+ ?*hit-sum* ?v)))

(defrule picked
   (data $? ?last)
   =>
   (bind ?*picked* ?last))
"""

FLAT = r"""
(defrule total
   (item ?v)
   =>
   (bind ?*count* (+ ?*count* 1))
   (bind ?*sum* (mod (+ ?*sum* ?v) 1000003)))

(defrule every-thousandth
   (item ?v&:(= (mod ?v 1000) 0))
   =>
   (bind ?*hits* (+ ?*hits* 1))
   (bind ?*hit-sum* (+ ?*hit-sum* ?v)))

(defrule picked
   (item {pick})
   =>
   (bind ?*picked* {pick}))
"""

FINISH = r"""
(reset)
(run)
(printout t "SUMMARY multifield fields=" ?*count* " sum=" ?*sum* " hits=" ?*hits*
          " hit-sum=" ?*hit-sum* " picked=" ?*picked* crlf)
(exit)
"""


def main(argv):
    flat = "--flat" in argv
    args = [a for a in argv if a != "--flat"]
    n = int(args[0])
    out = args[1] if len(args) > 1 else None
    pick = n - 1
    parts = [COMMON]
    if flat:
        parts.append(FLAT.replace("{pick}", str(pick)))
        lines = []
        for i in range(0, n, 10):
            lines.append("  " + " ".join(f"(item {v})" for v in range(i, min(n, i + 10))))
        parts.append("(deffacts items\n" + "\n".join(lines) + ")\n")
    else:
        parts.append(WIDE.replace("{pick}", str(pick)))
        lines = []
        for i in range(0, n, 20):
            lines.append("  " + " ".join(str(v) for v in range(i, min(n, i + 20))))
        parts.append("(deffacts data\n (data\n" + "\n".join(lines) + "))\n")
    parts.append(FINISH)
    total = sum(range(n)) % 1000003
    hits = len(range(0, n, 1000))
    hit_sum = sum(range(0, n, 1000))
    summary = (f"SUMMARY multifield fields={n} sum={total} hits={hits} hit-sum={hit_sum} "
               f"picked={pick}")
    write("".join(parts), summary, out)


if __name__ == "__main__":
    main(sys.argv[1:])
