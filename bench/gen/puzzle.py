#!/usr/bin/env python3
"""Candidate-elimination solver for Latin-square puzzles with boxes.

usage: puzzle.py [--ordered] COUNT [BOX] [OUT]

COUNT puzzles of a grid of BOX*BOX rows, columns, boxes and values (BOX 3,
the default, is a 9 x 9 grid; BOX 4 a 16 x 16 one) are solved one after the
other by 31 rules: candidates are made for the empty cells, then
eliminated and placed by naked and hidden singles, pointing and claiming,
naked and hidden pairs and X-wings, until every cell holds a value. Each
puzzle comes from one solved grid, permuted by a fixed seed, from which clues
are taken away as long as the same techniques (simulated here) still solve
it, so the run ends solved. Most rules join three to seven patterns on two or
three shared variables at once (row, column, box, cell, value), many through
`not` elements, `~`, `&:(> ...)` and `(test (< ...))`.

With --ordered the same program uses ordered facts, (cand ID ROW COL BOX
VAL), and its patterns fields in that order: the joins then compare fields
by position rather than slots by name.

The summary holds counts that do not depend on the order of firing (cells,
placements, candidates made and eliminated, candidates left) and a checksum
of the solved grids. OUT is the program; its summary goes to OUT with
.expected in place of .clp. Without OUT the program goes to standard output.
"""
import random
import re
import sys

from clp import asserts, write

RULES = r"""
(deftemplate given (slot id) (slot row) (slot col) (slot box) (slot val))
(deftemplate pos (slot id) (slot row) (slot col) (slot box))
(deftemplate digit (slot v))
(deftemplate cand (slot id) (slot row) (slot col) (slot box) (slot val))
(deftemplate cell (slot id) (slot row) (slot col) (slot box) (slot val))

(defglobal ?*puzzle* = 0 ?*cells* = 0 ?*placed* = 0 ?*made* = 0
           ?*eliminated* = 0 ?*left* = 0 ?*check* = 0)

;; --- set-up: the clues become cells, the empty positions candidates ----------

(defrule place-given
   (declare (salience 40))
   ?g <- (given (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))
   =>
   (retract ?g)
   (assert (cell (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))))

(defrule make-candidate
   (declare (salience 30))
   (pos (id ?i) (row ?r) (col ?c) (box ?b))
   (digit (v ?v))
   (not (cell (row ?r) (val ?v)))
   (not (cell (col ?c) (val ?v)))
   (not (cell (box ?b) (val ?v)))
   =>
   (bind ?*made* (+ ?*made* 1))
   (assert (cand (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))))

(defrule drop-position
   (declare (salience 25))
   ?p <- (pos)
   =>
   (retract ?p))

;; --- a placed value leaves its cell and its row, column and box ---------------

(defrule eliminate-in-cell
   (declare (salience 20))
   (cell (id ?i) (val ?v))
   ?x <- (cand (id ?i) (val ~?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))

(defrule eliminate-in-row
   (declare (salience 20))
   (cell (row ?r) (col ?c) (val ?v))
   ?x <- (cand (row ?r) (col ~?c) (val ?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))

(defrule eliminate-in-column
   (declare (salience 20))
   (cell (row ?r) (col ?c) (val ?v))
   ?x <- (cand (col ?c) (row ~?r) (val ?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))

(defrule eliminate-in-box
   (declare (salience 20))
   (cell (id ?i) (box ?b) (val ?v))
   ?x <- (cand (box ?b) (id ~?i) (val ?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))

;; --- singles -------------------------------------------------------------------

(defrule naked-single
   (declare (salience 10))
   ?x <- (cand (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))
   (not (cand (id ?i) (val ~?v)))
   =>
   (retract ?x)
   (bind ?*placed* (+ ?*placed* 1))
   (assert (cell (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))))

(defrule hidden-single-in-row
   (declare (salience 9))
   ?x <- (cand (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))
   (not (cand (row ?r) (col ~?c) (val ?v)))
   =>
   (retract ?x)
   (bind ?*placed* (+ ?*placed* 1))
   (assert (cell (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))))

(defrule hidden-single-in-column
   (declare (salience 9))
   ?x <- (cand (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))
   (not (cand (col ?c) (row ~?r) (val ?v)))
   =>
   (retract ?x)
   (bind ?*placed* (+ ?*placed* 1))
   (assert (cell (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))))

(defrule hidden-single-in-box
   (declare (salience 9))
   ?x <- (cand (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))
   (not (cand (box ?b) (id ~?i) (val ?v)))
   =>
   (retract ?x)
   (bind ?*placed* (+ ?*placed* 1))
   (assert (cell (id ?i) (row ?r) (col ?c) (box ?b) (val ?v))))

;; --- pointing: a value of a box only on one line leaves the rest of the line ----

(defrule pointing-row
   (declare (salience 5))
   (cand (row ?r) (col ?c1) (box ?b) (val ?v))
   (cand (row ?r) (col ?c2&:(> ?c2 ?c1)) (box ?b) (val ?v))
   (not (cand (box ?b) (row ~?r) (val ?v)))
   ?x <- (cand (row ?r) (box ~?b) (val ?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))

(defrule pointing-column
   (declare (salience 5))
   (cand (col ?c) (row ?r1) (box ?b) (val ?v))
   (cand (col ?c) (row ?r2&:(> ?r2 ?r1)) (box ?b) (val ?v))
   (not (cand (box ?b) (col ~?c) (val ?v)))
   ?x <- (cand (col ?c) (box ~?b) (val ?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))

;; --- claiming: a value of a line only in one box leaves the rest of the box -----

(defrule claiming-row
   (declare (salience 5))
   (cand (row ?r) (col ?c1) (box ?b) (val ?v))
   (cand (row ?r) (col ?c2&:(> ?c2 ?c1)) (box ?b) (val ?v))
   (not (cand (row ?r) (box ~?b) (val ?v)))
   ?x <- (cand (box ?b) (row ~?r) (val ?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))

(defrule claiming-column
   (declare (salience 5))
   (cand (col ?c) (row ?r1) (box ?b) (val ?v))
   (cand (col ?c) (row ?r2&:(> ?r2 ?r1)) (box ?b) (val ?v))
   (not (cand (col ?c) (box ~?b) (val ?v)))
   ?x <- (cand (box ?b) (col ~?c) (val ?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))
"""

# Naked pairs: two cells of a unit whose only candidates are the same two
# values; those values leave the unit's other cells. One rule per unit and
# value of the pair.
NAKED_PAIR = r"""
(defrule naked-pair-in-{unit}-{which}
   (declare (salience 4))
   (cand (id ?i1) ({slot} ?u) (val ?v1))
   (cand (id ?i1) (val ?v2&:(> ?v2 ?v1)))
   (not (cand (id ?i1) (val ~?v1&~?v2)))
   (cand (id ?i2&:(> ?i2 ?i1)) ({slot} ?u) (val ?v1))
   (cand (id ?i2) (val ?v2))
   (not (cand (id ?i2) (val ~?v1&~?v2)))
   ?x <- (cand ({slot} ?u) (id ?i&~?i1&~?i2) (val ?{which}))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))
"""

# Hidden pairs: two values of a unit that only two cells can take; those cells
# lose their other candidates. One rule per unit and cell of the pair.
HIDDEN_PAIR = r"""
(defrule hidden-pair-in-{unit}-{which}
   (declare (salience 3))
   (cand ({slot} ?u) (id ?i1) (val ?v1))
   (cand ({slot} ?u) (id ?i2) (val ?v1))
   (test (< ?i1 ?i2))
   (not (cand ({slot} ?u) (id ~?i1&~?i2) (val ?v1)))
   (cand (id ?i1) (val ?v2&:(> ?v2 ?v1)))
   (cand (id ?i2) (val ?v2))
   (not (cand ({slot} ?u) (id ~?i1&~?i2) (val ?v2)))
   ?x <- (cand (id ?{which}) (val ~?v1&~?v2))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))
"""

# X-wings: a value that two lines can take only in the same two crossing
# lines; it leaves the rest of those crossing lines.
X_WING = r"""
(defrule x-wing-{line}s
   (declare (salience 2))
   (cand ({line} ?l1) ({cross} ?k1) (val ?v))
   (cand ({line} ?l1) ({cross} ?k2&:(> ?k2 ?k1)) (val ?v))
   (not (cand ({line} ?l1) ({cross} ~?k1&~?k2) (val ?v)))
   (cand ({line} ?l2&:(> ?l2 ?l1)) ({cross} ?k1) (val ?v))
   (cand ({line} ?l2) ({cross} ?k2) (val ?v))
   (not (cand ({line} ?l2) ({cross} ~?k1&~?k2) (val ?v)))
   ?x <- (cand ({line} ?l&~?l1&~?l2) ({cross} ?k&?k1|?k2) (val ?v))
   =>
   (bind ?*eliminated* (+ ?*eliminated* 1))
   (retract ?x))
"""

FINISH = r"""
;; --- the grid is done: its cells are counted and cleared ------------------------

(defrule clear-cell
   (declare (salience -10))
   ?x <- (cell (id ?i) (val ?v))
   =>
   (retract ?x)
   (bind ?*cells* (+ ?*cells* 1))
   (bind ?*check* (mod (+ ?*check* (* ?v (+ ?i (* 7 ?*puzzle*)))) 1000003)))

(defrule clear-candidate
   (declare (salience -10))
   ?x <- (cand)
   =>
   (retract ?x)
   (bind ?*left* (+ ?*left* 1)))
"""


def program_rules():
    parts = [RULES.strip("\n")]
    for unit, slot in (("row", "row"), ("column", "col"), ("box", "box")):
        for which in ("v1", "v2"):
            parts.append(NAKED_PAIR.format(unit=unit, slot=slot, which=which).strip("\n"))
    for unit, slot in (("row", "row"), ("column", "col"), ("box", "box")):
        for which in ("i1", "i2"):
            parts.append(HIDDEN_PAIR.format(unit=unit, slot=slot, which=which).strip("\n"))
    parts.append(X_WING.format(line="row", cross="col").strip("\n"))
    parts.append(X_WING.format(line="col", cross="row").strip("\n"))
    parts.append(FINISH.strip("\n"))
    return "\n\n".join(parts)


# --- the same techniques in Python, to keep each puzzle solvable by the rules ---

class Grid:
    def __init__(self, box):
        self.box = box
        self.n = box * box
        n = self.n
        self.cells = [(r, c) for r in range(n) for c in range(n)]
        self.box_of = {(r, c): (r // box) * box + c // box for r, c in self.cells}
        self.units = []
        for k in range(n):
            self.units.append([(k, c) for c in range(n)])
            self.units.append([(r, k) for r in range(n)])
            self.units.append([rc for rc in self.cells if self.box_of[rc] == k])
        self.peers = {rc: set() for rc in self.cells}
        for unit in self.units:
            for a in unit:
                self.peers[a].update(b for b in unit if b != a)

    def solve(self, clues):
        """Solves with the program's techniques; the values, or None."""
        n = self.n
        value = dict(clues)
        cand = {}
        for rc in self.cells:
            if rc not in value:
                taken = {value[p] for p in self.peers[rc] if p in value}
                cand[rc] = set(range(1, n + 1)) - taken
        while cand:
            if any(not s for s in cand.values()):
                return None
            if self.place(value, cand):
                continue
            if not self.eliminate(cand):
                return None
        return value

    def place(self, value, cand):
        placed = False
        for rc, s in list(cand.items()):
            if rc in cand and len(s) == 1:
                self.put(value, cand, rc, next(iter(s)))
                placed = True
        for unit in self.units:
            for v in range(1, self.n + 1):
                where = [rc for rc in unit if rc in cand and v in cand[rc]]
                if len(where) == 1:
                    self.put(value, cand, where[0], v)
                    placed = True
        return placed

    def put(self, value, cand, rc, v):
        value[rc] = v
        del cand[rc]
        for p in self.peers[rc]:
            if p in cand:
                cand[p].discard(v)

    def eliminate(self, cand):
        changed = False
        n, box = self.n, self.box

        def drop(rc, v):
            nonlocal changed
            if rc in cand and v in cand[rc]:
                cand[rc].discard(v)
                changed = True

        for v in range(1, n + 1):
            for k in range(n):
                # pointing and claiming
                in_box = [rc for rc in cand if v in cand[rc] and self.box_of[rc] == k]
                rows = {r for r, _ in in_box}
                cols = {c for _, c in in_box}
                if len(in_box) >= 2 and len(rows) == 1:
                    r = rows.pop()
                    for c in range(n):
                        if self.box_of[(r, c)] != k:
                            drop((r, c), v)
                if len(in_box) >= 2 and len(cols) == 1:
                    c = cols.pop()
                    for r in range(n):
                        if self.box_of[(r, c)] != k:
                            drop((r, c), v)
                for line in (0, 1):
                    on = [rc for rc in cand if v in cand[rc] and rc[line] == k]
                    boxes = {self.box_of[rc] for rc in on}
                    if len(on) >= 2 and len(boxes) == 1:
                        b = boxes.pop()
                        for rc in self.cells:
                            if self.box_of[rc] == b and rc[line] != k:
                                drop(rc, v)
        for unit in self.units:
            open_cells = [rc for rc in unit if rc in cand]
            # naked pairs
            for a in open_cells:
                for b in open_cells:
                    if a < b and len(cand[a]) == 2 and cand[a] == cand[b]:
                        for rc in open_cells:
                            if rc != a and rc != b:
                                for v in cand[a]:
                                    drop(rc, v)
            # hidden pairs
            where = {v: [rc for rc in open_cells if v in cand[rc]] for v in range(1, n + 1)}
            for v1 in range(1, n + 1):
                for v2 in range(v1 + 1, n + 1):
                    if len(where[v1]) == 2 and where[v1] == where[v2]:
                        for rc in where[v1]:
                            for v in list(cand[rc]):
                                if v != v1 and v != v2:
                                    drop(rc, v)
        # X-wings
        for v in range(1, n + 1):
            for line in (0, 1):
                spots = {}
                for k in range(n):
                    at = sorted(rc[1 - line] for rc in cand if v in cand[rc] and rc[line] == k)
                    if len(at) == 2:
                        spots.setdefault(tuple(at), []).append(k)
                for at, lines in spots.items():
                    if len(lines) >= 2:
                        for l1 in lines:
                            for l2 in lines:
                                if l1 < l2:
                                    for k in range(n):
                                        if k not in (l1, l2):
                                            for x in at:
                                                drop((k, x) if line == 0 else (x, k), v)
        return changed


def solved_grid(box, rnd):
    """A solved grid: the pattern one, its digits, bands, stacks, rows and
    columns within them permuted, maybe transposed."""
    n = box * box
    base = [[(box * (r % box) + r // box + c) % n + 1 for c in range(n)] for r in range(n)]
    digits = list(range(1, n + 1))
    rnd.shuffle(digits)

    def order():
        bands = list(range(box))
        rnd.shuffle(bands)
        out = []
        for b in bands:
            inner = list(range(box))
            rnd.shuffle(inner)
            out += [b * box + i for i in inner]
        return out

    rows, cols = order(), order()
    grid = [[digits[base[r][c] - 1] for c in cols] for r in rows]
    if rnd.random() < 0.5:
        grid = [list(col) for col in zip(*grid)]
    return grid


def make_puzzle(grid, g, rnd):
    """Takes clues away, in a random order, while the techniques still solve
    the puzzle."""
    clues = {(r, c): grid[r][c] for r, c in g.cells}
    order = list(g.cells)
    rnd.shuffle(order)
    for rc in order:
        v = clues.pop(rc)
        if g.solve(clues) is None:
            clues[rc] = v
    return clues


SLOTS = {
    "given": ("id", "row", "col", "box", "val"),
    "pos": ("id", "row", "col", "box"),
    "digit": ("v",),
    "cand": ("id", "row", "col", "box", "val"),
    "cell": ("id", "row", "col", "box", "val"),
}


def closing(text, at):
    """The index just past the parenthesis that closes the one at `at`."""
    depth = 0
    for i in range(at, len(text)):
        if text[i] == "(":
            depth += 1
        elif text[i] == ")":
            depth -= 1
            if depth == 0:
                return i + 1
    raise ValueError("unbalanced")


def ordered(text):
    """The program with ordered facts: every pattern and fact of a template
    above, `(cand (row ?r) (val ?v))`, becomes one of fields in slot order,
    `(cand ? ?r ? ? ?v)`; the deftemplates go."""
    text = re.sub(r"\(deftemplate [^\n]*\n", "", text)
    out = []
    i = 0
    names = "|".join(SLOTS)
    head = re.compile(r"\((%s)(?=[ )])" % names)
    while True:
        m = head.search(text, i)
        if m is None:
            out.append(text[i:])
            return "".join(out)
        out.append(text[i:m.start()])
        end = closing(text, m.start())
        body = text[m.end():end - 1].strip()
        values = {}
        while body:
            stop = closing(body, 0)
            slot, _, value = body[1:stop - 1].partition(" ")
            values[slot] = ordered(value.strip())
            body = body[stop:].strip()
        if values:
            fields = [values.get(slot, "?") for slot in SLOTS[m.group(1)]]
        else:
            fields = ["$?"]
        out.append("(" + " ".join([m.group(1)] + fields) + ")")
        i = end


def main():
    args = sys.argv[1:]
    flat = bool(args) and args[0] == "--ordered"
    if flat:
        args = args[1:]
    count = int(args[0])
    box = int(args[1]) if len(args) > 1 else 3
    path = args[2] if len(args) > 2 else None
    g = Grid(box)
    n = g.n
    rnd = random.Random(4271 + 31 * count + box)
    out = [";; Candidate elimination: %d puzzles of %d x %d, %s (generated by bench/gen/puzzle.py)"
           % (count, n, n, "ordered facts" if flat else "template facts")]
    out.append(ordered(program_rules()) if flat else program_rules())
    out.append("")
    out.append("(reset)")
    digits = ["(digit (v %d))" % v for v in range(1, n + 1)]
    out += asserts([ordered(d) for d in digits] if flat else digits)
    cells = placed = made = check = 0
    for p in range(1, count + 1):
        grid = solved_grid(box, rnd)
        clues = make_puzzle(grid, g, rnd)
        facts = []
        for r, c in g.cells:
            i = r * n + c + 1
            b = g.box_of[(r, c)] + 1
            if (r, c) in clues:
                facts.append("(given (id %d) (row %d) (col %d) (box %d) (val %d))"
                             % (i, r + 1, c + 1, b, clues[(r, c)]))
            else:
                facts.append("(pos (id %d) (row %d) (col %d) (box %d))" % (i, r + 1, c + 1, b))
                taken = {clues[q] for q in g.peers[(r, c)] if q in clues}
                made += n - len(taken)
                placed += 1
            cells += 1
            check = (check + grid[r][c] * (i + 7 * p)) % 1000003
        out.append(";; puzzle %d: %d clues" % (p, len(clues)))
        out.append("(bind ?*puzzle* %d)" % p)
        out += asserts([ordered(f) for f in facts] if flat else facts)
        out.append("(run)")
    summary = ("SUMMARY puzzle puzzles=%d cells=%d placed=%d made=%d eliminated=%d left=0 check=%d"
               % (count, cells, placed, made, made - placed, check))
    out.append('(printout t "SUMMARY puzzle puzzles=%d cells=" ?*cells* " placed=" ?*placed*'
               % count)
    out.append('          " made=" ?*made* " eliminated=" ?*eliminated* " left=" ?*left*')
    out.append('          " check=" ?*check* crlf)')
    out.append("(exit)")
    write("\n".join(out) + "\n", summary, path)


if __name__ == "__main__":
    main()
