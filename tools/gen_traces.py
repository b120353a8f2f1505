#!/usr/bin/env python3
"""Generate the five constant read traces a1..a5 and write voicetest/read_traces_data.cpp.

Seeded and reproducible (standard library only). The traces are built from pieces: clusters
(nearby values, mostly read twice, small ascending steps), scattered single reads, and runs of
two-level groups (one or two entries of 12000000 or more, then one low entry), laid out along a
hand-written skeleton per trace that puts every listed value at its listed position. Free pieces
are filled to exact per-trace quotas; afterwards every figure is recomputed from the finished
traces and the script exits non-zero, writing nothing, if any figure is off. Each figure is held
once, in the tables below; generation and verification both read it from there.

Usage: tools/gen_traces.py [--out PATH] [--check]
  --check  generate and verify, then compare with the existing file instead of writing it;
           exits non-zero, naming the first differing entry, when the file differs.
"""

import argparse
import os
import random
import re
import sys
import time

SEED = 20240607          # change only together with the committed output
MAX_ATTEMPTS = 400

HIGH = 12_000_000        # entries at or above this are the high entries of groups
BAND = 1_000_000         # the lower value band ends here
NEAR = 8192              # non-group neighbours closer than this belong to one cluster
DELTA_MIN, DELTA_MAX = 120, 4000   # downward step between consecutive groups of one region
RATIO_LO, RATIO_HI = 32.9, 35.0
SCATTER_LO, SCATTER_HI = 100_000, 11_000_000   # where scattered reads mostly lie
LARGE_STEP = 3000        # clustered steps are rarely larger than this
MARGIN = 2               # records kept free around every piece, so pieces never share records


class Fail(Exception):
    """One generation attempt went wrong; the caller retries with the next attempt seed."""


def record(v):
    """Record number: v / 512 rounded to nearest, exact halves to the even neighbour."""
    q, m = divmod(v, 512)
    if m > 256 or (m == 256 and q % 2 == 1):
        q += 1
    return q


def upos(v):
    """Position of v inside its record window: 0 means half-way, 256 a multiple of 512."""
    return (v + 256) % 512


# ---------------------------------------------------------------------------------------------
# The figures to meet.

FIGURES = {  # entries; smallest and largest read entry with their records; the shape counts
    1: dict(n=128, lo=22893, lo_rec=45, hi=363005596, hi_rec=708995, equal=23, same=31, p512=12,
            p1024=5, distinct=74, band=(51, 36, 39)),
    2: dict(n=235, lo=56893, lo_rec=111, hi=300387960, hi_rec=586695, equal=35, same=45, p512=22,
            p1024=8, distinct=138, band=(72, 83, 78)),
    3: dict(n=253, lo=85526, lo_rec=167, hi=306206424, hi_rec=598059, equal=31, same=41, p512=28,
            p1024=8, distinct=147, band=(80, 74, 97)),
    4: dict(n=305, lo=12571, lo_rec=25, hi=356247328, hi_rec=695796, equal=51, same=68, p512=33,
            p1024=8, distinct=166, band=(85, 134, 84)),
    5: dict(n=200, lo=32576, lo_rec=64, hi=272694512, hi_rec=532606, equal=29, same=37, p512=20,
            p1024=4, distinct=113, band=(66, 63, 69)),
}

LISTED = {  # trace -> first listed position -> values from there on; position 0 is the lead
    1: {0: [259447, 178872, 178872, 180078, 676954, 676954, 677128, 677128, 677141, 2621523,
            2621523],
        25: [1239586, 2739275, 4818997, 2333056, 7919758, 1189750, 136219, 7055981, 2992185,
             5832286],
        58: [FIGURES[1]['hi']],
        60: [119957960, 119958472, 3485637, 119957048, 119957560, 3485612, 119956448, 119956960,
             3485593, 119955908, 119956420, 3485576],
        81: [249302, 249302, 249489, 249489, 249540, 249540, 249553, 249553],
        121: [95738508, 95739020, 2776890, 95737204, 95738228, 2776859, -1]},
    2: {0: [259447, 182281, 182281, 1239586, 2739275, 3185547, 7122499, 233745584, 6799133,
            233744540, 233745564],
        228: [36110244, 36110756, 1090218, 36109104, 36110128, 1090188, -1]},
    3: {0: [289814, 289814, 290868, 290868, 291136, 291136, 291163, 1296377, 231594252,
            231594764, 6737078],
        246: [56386512, 56387024, 1713301, 56385796, 56386308, 1713283, -1]},
    4: {0: [32576, 32576, 49808, 3092601, 3092601, 3092626, 3092626, 3092792, 3092792, 3092809,
            3092809],
        11: [FIGURES[4]['lo']],
        298: [95701048, 95701560, 2775842, 95699776, 95700800, 2775811, -1]},
    5: {0: [82145, 82145, 86390, 86390, 86613, 178872, 178872, 179468, 833045, 833045, 834393],
        88: [5784832],
        193: [1657206, 54571600, 1657195, 54570500, 54571524, 1657171, -1]},
}
LEAD_UNREAD = (1, 2)     # traces whose leading entry occurs nowhere else in them
HALFWAY = (5, 88)        # the only read entry half-way between two records
SINGLES = 73             # groups with one high entry
GAPS = {512: 107, 1024: 33, 1536: 6, 2048: 1}   # groups with two, by the gap of their highs
EXCEPTION = (2, 42586808, 4145721)    # the one group whose ratio lies outside RATIO_LO..RATIO_HI
MULTIPLES = 5            # read entries that are multiples of 512
SHARED = {(1, 2): 21, (2, 3): 19}     # distinct values read by both traces
SHARED_OTHER_MAX = 8
MEDIAN_STEP = 184
# Reads that go back to a record read earlier, but not just before (reads - same - distinct).
RETURNS = {t: s['n'] - 2 - s['same'] - s['distinct'] for t, s in FIGURES.items()}


def listed(t, first, count=1):
    """The listed values of trace t at positions first .. first + count - 1."""
    for start, vals in LISTED[t].items():
        if start <= first and first + count <= start + len(vals):
            return vals[first - start:first - start + count]
    raise KeyError(f"a{t} lists no values at {first}..{first + count - 1}")


def listed_tail(t):
    """The listed groups that end trace t, without the terminator."""
    return LISTED[t][max(LISTED[t])][:-1]


# ---------------------------------------------------------------------------------------------
# The skeletons. Each trace is a list of stretches in replay order:
#   ('C', parts)  cluster stretch; part: ('fix', values) | ('imp', block) | ('free', m, opts)
#   ('S', parts)  scattered singles; part: ('fix', values) | ('free', m)
#   ('G', segs)   run of groups; seg: ('fixed', values) | ('auto', doubles, singles, opts)
# A segment is a run of groups stepping down through one region. Free doubles take their gap
# from the trace's pool. Free cluster parts may export mini-clusters (shape: P = value read twice,
# S = read once) that a later trace imports, which is where the shared values come from.


def G(kind, gap=None, F=None, F2=None, L=None, Frange=None):
    return dict(kind=kind, gap=gap, F=F, F2=F2, L=L, Frange=Frange)


def members(g):
    """The entries of a group in replay order: its high entries, then its low entry."""
    return [g['F']] + ([g['F2']] if g['kind'] == 'd' else []) + [g['L']]


def parse_groups(values):
    """Split fixed values (highs then a low, repeated) into group dicts; the low of the last
    group may be left to the generator."""
    out, i = [], 0
    while i < len(values):
        hs = []
        while i < len(values) and values[i] >= HIGH:
            hs.append(values[i])
            i += 1
        low = values[i] if i < len(values) else None
        i += 1
        if len(hs) == 1:
            out.append(G('s', F=hs[0], L=low))
        else:
            out.append(G('d', gap=hs[1] - hs[0], F=hs[0], F2=hs[1], L=low))
    return out


PLAN = {
    1: [
        ('C', [('fix', listed(1, 1, 10)), ('free', 6, {})]),
        ('G', [('auto', 2, 1, {})]),
        ('S', [('fix', LISTED[1][25])]),
        ('C', [('free', 10, {'min': True})]),
        ('G', [('auto', 4, 0, {}),
               ('auto', 0, 0, {'head': [G('d', gap=1536, F2=FIGURES[1]['hi'])]}),
               ('fixed', LISTED[1][60])]),
        ('S', [('free', 3)]),
        ('C', [('free', 6, {}), ('fix', LISTED[1][81]), ('free', 4, {})]),
        ('G', [('auto', 1, 3, {})]),
        ('S', [('free', 2)]),
        ('C', [('free', 6, {'exports': [('A1X', 'PPP')]})]),
        ('G', [('auto', 3, 1, {}), ('fixed', listed_tail(1))]),
    ],
    2: [
        ('C', [('fix', listed(2, 1, 2))]),
        ('S', [('fix', listed(2, 3, 4))]),
        ('G', [('auto', 3, 0, {'head': parse_groups(listed(2, 7, 4))})]),
        ('C', [('free', 12, {'min': True})]),
        ('S', [('free', 6)]),
        ('G', [('auto', 4, 3, {'nseg': 2})]),
        ('C', [('imp', 'A1_MID'), ('free', 8, {})]),
        ('G', [('auto', 4, 2, {'nseg': 2, 'exc': True})]),
        ('S', [('free', 5)]),
        ('C', [('imp', 'A1X'), ('free', 10, {'exports': [('A2X1', 'PPPP')]})]),
        ('G', [('auto', 4, 3, {'nseg': 2})]),
        ('C', [('free', 13, {'exports': [('A2X2', 'PPP')]})]),
        ('S', [('free', 5)]),
        ('G', [('auto', 4, 2, {'nseg': 2, 'max': True})]),
        ('C', [('free', 15, {'exports': [('A2X3', 'PSP')]})]),
        ('S', [('free', 4)]),
        ('G', [('auto', 4, 3, {'nseg': 2})]),
        ('C', [('free', 9, {})]),
        ('G', [('auto', 4, 2, {'nseg': 2}), ('fixed', listed_tail(2))]),
    ],
    3: [
        ('C', [('fix', listed(3, 1, 6))]),
        ('S', [('fix', listed(3, 7))]),
        ('G', [('auto', 3, 4, {'nseg': 2, 'head': parse_groups(listed(3, 8, 3))})]),
        ('C', [('free', 12, {'min': True})]),
        ('S', [('free', 3)]),
        ('G', [('auto', 5, 3, {'nseg': 2})]),
        ('C', [('imp', 'A2X1'), ('free', 4, {})]),
        ('G', [('auto', 5, 3, {'nseg': 2})]),
        ('S', [('free', 3)]),
        ('C', [('imp', 'A2X2'), ('free', 5, {})]),
        ('G', [('auto', 5, 3, {'nseg': 2})]),
        ('C', [('imp', 'A2X3'), ('free', 5, {})]),
        ('G', [('auto', 5, 2, {'nseg': 2, 'max': True})]),
        ('S', [('free', 3)]),
        ('C', [('free', 14, {})]),
        ('G', [('auto', 4, 5, {'nseg': 2})]),
        ('S', [('free', 3)]),
        ('C', [('free', 14, {})]),
        ('G', [('auto', 5, 6, {'nseg': 2}), ('fixed', listed_tail(3))]),
    ],
    4: [
        ('S', [('fix', listed(4, 1, 2))]),
        ('C', [('fix', listed(4, 3, 8))]),
        ('S', [('fix', LISTED[4][11]), ('free', 3)]),
        ('G', [('auto', 6, 0, {})]),
        ('C', [('free', 28, {})]),
        ('S', [('free', 6)]),
        ('G', [('auto', 6, 1, {})]),
        ('C', [('free', 28, {})]),
        ('G', [('auto', 6, 0, {'max': True})]),
        ('S', [('free', 6)]),
        ('C', [('free', 28, {})]),
        ('G', [('auto', 7, 0, {})]),
        ('C', [('free', 27, {})]),
        ('S', [('free', 6)]),
        ('G', [('auto', 6, 1, {})]),
        ('C', [('free', 27, {})]),
        ('S', [('free', 5)]),
        ('G', [('auto', 7, 1, {}), ('fixed', listed_tail(4))]),
    ],
    5: [
        ('C', [('fix', listed(5, 1, 10)), ('free', 4, {})]),
        ('G', [('auto', 3, 4, {})]),
        ('S', [('free', 5)]),
        ('C', [('free', 14, {'min': True})]),
        ('G', [('auto', 4, 4, {'nseg': 2})]),
        ('C', [('free', 14, {})]),
        ('S', [('free', 3), ('fix', LISTED[5][88]), ('free', 2)]),
        ('G', [('auto', 4, 3, {'nseg': 2, 'max': True})]),
        ('C', [('free', 14, {})]),
        ('G', [('auto', 4, 4, {'nseg': 2})]),
        ('S', [('free', 4)]),
        ('C', [('free', 14, {})]),
        ('G', [('auto', 8, 2, {}),
               ('auto', 0, 0, {'head': [G('d', L=listed(5, 193)[0], Frange=(54572000, 54574500))],
                               'fixed_after': listed_tail(5)[1:]})]),
    ],
}

# Gaps of the free doubles; the fixed and explicitly gapped doubles complete the totals of GAPS.
GAP_POOL = {
    1: {512: 6, 1024: 4},
    2: {512: 19, 1024: 6, 1536: 2},
    3: {512: 23, 1024: 8, 1536: 1},
    4: {512: 30, 1024: 7, 2048: 1},
    5: {512: 19, 1024: 3, 1536: 2},
}

# Values a trace reads as scattered singles because an earlier trace read them too.
SCATTER_IMPORTS = {
    2: lambda ex: LISTED[1][25][2:] + ex['scatter1'],
    3: lambda ex: listed(2, 5, 2) + ex['scatter2'],
}
SCATTER_EXPORTS = {1: 'scatter1', 2: 'scatter2'}   # free scattered singles handed on

FIXED_BLOCKS = {'A1_MID': LISTED[1][81]}


# ---------------------------------------------------------------------------------------------
# Shared helpers.


def cluster_steps(values):
    """Counts over consecutive cluster values: equal, same-record (not equal), +512, and the
    positive small steps split below / at / above the median step."""
    st = dict(equal=0, samene=0, p512=0, b=0, m=0, a=0)
    for x, y in zip(values, values[1:]):
        d = y - x
        if d == 0:
            st['equal'] += 1
        elif record(x) == record(y):
            st['samene'] += 1
        if d == 512:
            st['p512'] += 1
        if 0 < d <= NEAR:
            st['b' if d < MEDIAN_STEP else 'm' if d == MEDIAN_STEP else 'a'] += 1
    return st


class Reserve:
    """Records taken by pieces of one trace (with a margin), so that pieces never meet."""

    def __init__(self):
        self.owner = {}

    def ok(self, records, who):
        for r in records:
            for x in range(r - MARGIN, r + MARGIN + 1):
                o = self.owner.get(x)
                if o is not None and o != who:
                    return False
        return True

    def add(self, records, who):
        for r in records:
            for x in range(r - MARGIN, r + MARGIN + 1):
                self.owner.setdefault(x, who)


# Step tokens: (kind, size class). kind: 'same' record, 'cross' into a later record, or 'p512'
# (exactly +512); class: 'b' below 184, 'm' exactly 184, 'a' above. Tokens whose window position
# must be low or high to be possible are the hard ones.
HARD = {('same', 'a'), ('same', 'm'), ('cross', 'b'), ('cross', 'm')}


def token_feasible(tok, u):
    kind, cls = tok
    if kind == 'p512' or tok == ('cross', 'a'):
        return True
    if tok == ('same', 'b'):
        return u <= 509
    if tok == ('same', 'a'):
        return u <= 326
    if tok == ('same', 'm'):
        return u <= 327 and u != 72
    if tok == ('cross', 'b'):
        return u >= 331
    if tok == ('cross', 'm'):
        return u >= 330
    return False


def step_ok(u, d, tok):
    kind, cls = tok
    nu = (u + d) % 512
    if nu in (0, 256):
        return False
    if kind == 'p512':
        return d == 512
    if d in (512, 1024) or d <= 0 or d > 6000:
        return False
    if cls == 'b' and d >= MEDIAN_STEP:
        return False
    if cls == 'm' and d != MEDIAN_STEP:
        return False
    if cls == 'a' and d <= MEDIAN_STEP:
        return False
    return (u + d < 512) if kind == 'same' else (u + d > 512)


def sample_step(tok, u, pref, rng):
    """A step size for token tok from window position u, steering the next position towards
    pref ('high' or 'low') when the remaining tokens need it."""
    kind, cls = tok
    if kind == 'p512':
        return 512
    if cls == 'm':
        return MEDIAN_STEP
    cands = []
    for _ in range(40):
        if kind == 'same':
            lo, hi = (1, min(183, 511 - u)) if cls == 'b' else (185, 511 - u)
            if lo > hi:
                return None
            d = rng.randint(lo, hi)
        elif cls == 'b':
            lo, hi = 513 - u, 183
            if lo > hi:
                return None
            d = rng.randint(lo, hi)
        else:
            r = rng.random()
            k = 0 if r < 0.72 else 1 if r < 0.92 else rng.randint(2, 6)
            if pref == 'high':
                nu = rng.randint(340, 505)
            elif pref == 'low':
                nu = rng.randint(5, 320)
            else:
                nu = rng.randint(1, 511)
            d = 512 - u + nu + 512 * k
            if d <= MEDIAN_STEP:
                d += 512
        if step_ok(u, d, tok):
            cands.append(d)
    if not cands:
        return None
    for d in cands:
        nu = (u + d) % 512
        if pref is None or (pref == 'high' and nu >= 335) or (pref == 'low' and nu <= 320):
            return d
    return cands[0]


# ---------------------------------------------------------------------------------------------
# One trace.

class TraceBuilder:
    def __init__(self, t, attempt, exports, others_fixed, seed):
        self.t = t
        self.figures = FIGURES[t]
        self.rng = random.Random(f"{seed}/a{t}/{attempt}")
        self.exports = exports
        self.others_fixed = others_fixed
        self.slots = []        # one dict per read entry: kind C/S/H/L, value, piece id
        self.pieces = []
        self.new_exports = {}

    # -- expansion of the skeleton ------------------------------------------------------------
    def expand(self):
        rng = self.rng
        pool = [g for g, c in GAP_POOL[self.t].items() for _ in range(c)]
        rng.shuffle(pool)
        self.stretches = []
        for kind, body in PLAN[self.t]:
            if kind == 'G':
                segs = []
                for seg in body:
                    segs.extend(self.expand_segment(seg))
                for seg in segs:
                    for g in seg['groups']:
                        if g['kind'] == 'd' and g['gap'] is None:
                            g['gap'] = pool.pop()
                        if g['kind'] == 'd' and g['F'] is None and g['F2'] is not None:
                            g['F'] = g['F2'] - g['gap']
                        if g['kind'] == 'd' and g['F2'] is None and g['F'] is not None:
                            g['F2'] = g['F'] + g['gap']
                self.stretches.append(('G', segs))
            else:
                self.stretches.append((kind, body))
        if pool:
            raise SystemExit(f"a{self.t}: gap pool does not match the free doubles")

    def expand_segment(self, seg):
        rng = self.rng
        if seg[0] == 'fixed':
            return [dict(groups=parse_groups(seg[1]), fixed=True)]
        _, nd, ns, opts = seg
        kinds = ['d'] * nd + ['s'] * ns
        rng.shuffle(kinds)
        groups = [G(k) for k in kinds]
        nseg = opts.get('nseg', 1)
        parts = [groups]
        if nseg == 2 and len(groups) >= 6 and rng.random() < 0.6:
            cut = rng.randint(3, len(groups) - 3)
            parts = [groups[:cut], groups[cut:]]
        head = [dict(g) for g in opts.get('head', [])]
        if opts.get('max'):
            head = [G('s', F=self.figures['hi'])] + head
        if head:
            parts[0] = head + parts[0]
        if opts.get('fixed_after'):
            parts[-1] = parts[-1] + parse_groups(opts['fixed_after'])
        segs = [dict(groups=p, fixed=False) for p in parts if p]
        if opts.get('exc'):
            exc = dict(groups=[G('s', F=EXCEPTION[1], L=EXCEPTION[2])], fixed=True)
            segs.insert(rng.randint(1, len(segs)), exc)
        return segs

    # -- layout -------------------------------------------------------------------------------
    def layout(self):
        """Turn the stretches into pieces and one slot per read entry."""
        rng = self.rng
        sp = self.figures
        free_c = []
        fixed_pairs = 0
        for kind, body in self.stretches:
            if kind == 'C':
                for part in body:
                    if part[0] in ('fix', 'imp'):
                        vals = part[1] if part[0] == 'fix' else (
                            FIXED_BLOCKS.get(part[1]) or self.exports[part[1]])
                        fixed_pairs += cluster_steps(vals)['equal']
                        self.add_piece('cfix', 'C', vals=list(vals))
                    else:
                        _, m, opts = part
                        exp = opts.get('exports', [])
                        exp_entries = sum(2 if c == 'P' else 1 for _, s in exp for c in s)
                        fixed_pairs += sum(s.count('P') for _, s in exp)
                        pc = dict(m=m - exp_entries, exports=exp, min=opts.get('min', False))
                        free_c.append(pc)
                        self.add_piece('cfree', 'C', part=pc)
            elif kind == 'S':
                for part in body:
                    if part[0] == 'fix':
                        for v in part[1]:
                            self.add_piece('sfix', 'S', vals=[v])
                    else:
                        for _ in range(part[1]):
                            self.add_piece('sfree', 'S', vals=[None])
            else:
                for seg in body:
                    self.add_piece('seg', 'G', seg=seg)
        # Pairs (values read twice) for the free cluster parts.
        pairs = sp['equal'] - fixed_pairs
        caps = [pc['m'] // 2 for pc in free_c]
        if pairs < 0 or pairs > sum(caps):
            raise SystemExit(f"a{self.t}: {pairs} pairs do not fit the free clusters")
        alloc = [0] * len(free_c)
        for _ in range(pairs):
            open_ = [i for i in range(len(free_c)) if alloc[i] < caps[i]]
            weights = [caps[i] - alloc[i] for i in open_]
            alloc[rng.choices(open_, weights)[0]] += 1
        for pc, p in zip(free_c, alloc):
            pc['minis'] = self.shape_minis(pc, p)
        # Slots.
        for pc in self.pieces:
            pc['start'] = len(self.slots)
            if pc['type'] in ('cfix', 'sfix', 'sfree'):
                for v in pc['vals']:
                    self.slots.append(dict(kind=pc['kind'], val=v, piece=pc['id']))
            elif pc['type'] == 'cfree':
                for mini in pc['part']['minis']:
                    mini['start'] = len(self.slots)
                    for _ in range(sum(mini['shape'])):
                        self.slots.append(dict(kind='C', val=None, piece=pc['id']))
            else:
                for g in pc['seg']['groups']:
                    *highs, low = members(g)
                    for h in highs:
                        self.slots.append(dict(kind='H', val=h, piece=pc['id']))
                    self.slots.append(dict(kind='L', val=low, piece=pc['id']))
            pc['end'] = len(self.slots)
        if len(self.slots) != sp['n'] - 2:
            raise SystemExit(f"a{self.t}: skeleton has {len(self.slots)} reads, "
                             f"wants {sp['n'] - 2}")
        for start, vals in LISTED[self.t].items():
            for i, v in enumerate(vals):
                pos = start + i
                if 1 <= pos <= sp['n'] - 2:
                    have = self.slots[pos - 1]['val']
                    if have is not None and have != v:
                        raise SystemExit(f"a{self.t}: position {pos} holds {have}, wants {v}")

    def add_piece(self, type_, kind, **kw):
        pc = dict(id=len(self.pieces), type=type_, kind=kind, **kw)
        self.pieces.append(pc)
        return pc

    def shape_minis(self, pc, pairs):
        """Split a free cluster part into mini-clusters (runs of nearby ascending values)."""
        rng = self.rng
        singles = pc['m'] - 2 * pairs
        units = [2] * pairs + [1] * singles
        rng.shuffle(units)
        minis = []
        i = 0
        while i < len(units):
            k = rng.choices([1, 2, 3, 4, 5], [1, 3, 4, 3, 1])[0]
            chunk = units[i:i + k]
            i += len(chunk)
            if sum(chunk) < 2:
                if i < len(units):
                    chunk.append(units[i])
                    i += 1
                elif minis:
                    minis[-1]['shape'].extend(chunk)
                    continue
            minis.append(dict(shape=chunk, export=None, min=False))
        for name, shape in pc['exports']:
            mini = dict(shape=[2 if c == 'P' else 1 for c in shape], export=name, min=False)
            minis.insert(rng.randint(0, len(minis)), mini)
        if pc['min']:
            minis[0]['min'] = True
        return minis

    # -- quotas -------------------------------------------------------------------------------
    def plan_quotas(self):
        rng = self.rng
        sp = self.figures
        t = self.t
        # Imported scattered singles and the one multiple of 512 go into free scatter slots.
        free_s = [pc for pc in self.pieces if pc['type'] == 'sfree']
        imports = SCATTER_IMPORTS[t](self.exports) if t in SCATTER_IMPORTS else []
        for _ in range(200):
            chosen = rng.sample(free_s, len(imports) + 1)
            for pc in free_s:
                pc['vals'] = [None]
                pc['mult'] = False
                pc['imported'] = False
            for pc, v in zip(chosen, imports):
                pc['vals'] = [v]
                pc['imported'] = True
            chosen[-1]['mult'] = True
            for pc in free_s:
                self.slots[pc['start']]['val'] = pc['vals'][0]
            if self.prefilled_apart():
                break
        else:
            raise Fail("imported scattered singles cannot be kept apart")
        # Steps of fixed and imported clusters.
        fixed = dict(equal=0, samene=0, p512=0, b=0, m=0, a=0)
        for pc in self.pieces:
            if pc['type'] == 'cfix':
                for k, v in cluster_steps(pc['vals']).items():
                    fixed[k] += v
        # Group gaps.
        g512 = sum(1 for pc in self.pieces if pc['type'] == 'seg'
                   for g in pc['seg']['groups'] if g['kind'] == 'd' and g['gap'] == 512)
        minis = [m for pc in self.pieces if pc['type'] == 'cfree' for m in pc['part']['minis']]
        nsteps = sum(len(m['shape']) - 1 for m in minis)
        pairs_free = sum(m['shape'].count(2) for m in minis)
        if fixed['equal'] + pairs_free != sp['equal']:
            raise SystemExit(f"a{t}: pair bookkeeping is off")
        same_rem = sp['same'] - sp['equal'] - fixed['samene']
        p512_rem = sp['p512'] - g512 - fixed['p512']
        diff = fixed['a'] - fixed['b']          # free below minus free above must equal this
        nm = 1 if (nsteps - 1 + diff) % 2 == 0 else 2
        nb = (nsteps - nm + diff) // 2
        na = nsteps - nm - nb
        same_b = min(same_rem, nb)
        same_a = same_rem - same_b
        cross_b = nb - same_b
        cross_a = na - same_a - p512_rem
        if min(same_rem, p512_rem, nb, cross_a) < 0:
            raise Fail(f"step tokens do not fit: {nsteps} steps")
        self.tokens = {('same', 'b'): same_b, ('same', 'a'): same_a, ('same', 'm'): 0,
                       ('cross', 'b'): cross_b, ('cross', 'a'): cross_a, ('cross', 'm'): nm,
                       ('p512', 'a'): p512_rem}
        self.band_plan()
        self.returns_plan()

    def prefilled_apart(self):
        s = self.slots
        for i in range(1, len(s)):
            a, b = s[i - 1], s[i]
            if a['kind'] in 'CS' and b['kind'] in 'CS' and a['val'] is not None \
                    and b['val'] is not None and a['piece'] != b['piece'] \
                    and abs(a['val'] - b['val']) <= NEAR:
                return False
        return True

    def band_plan(self):
        """Choose which free items lie below 1000000 so that the band counts come out exact."""
        rng = self.rng
        sp = self.figures
        low_target = sp['band'][0]
        items = []
        for pc in self.pieces:
            if pc['type'] in ('cfix', 'sfix') or (pc['type'] == 'sfree' and pc['imported']):
                low_target -= sum(1 for v in pc['vals'] if v < BAND)
            elif pc['type'] == 'sfree':
                items.append((1, pc, False))
            elif pc['type'] == 'cfree':
                for mini in pc['part']['minis']:
                    if mini['min']:
                        mini['band'] = 'low'
                        low_target -= sum(mini['shape'])
                    else:
                        items.append((sum(mini['shape']), mini, False))
            elif pc['type'] == 'seg':
                seg = pc['seg']
                groups = seg['groups']
                low_target -= sum(1 for g in groups if g['L'] is not None and g['L'] < BAND)
                nfree = sum(1 for g in groups if g['L'] is None)
                if groups[0]['F'] is not None or groups[0]['Frange'] is not None:
                    seg['band'] = 'mid'     # region fixed by a listed value: its lows are above
                elif nfree:
                    items.append((nfree, seg, True))
        rng.shuffle(items)
        # Subset sum with random choices among the solutions.
        reach = [None] * (len(items) + 1)
        reach[len(items)] = {0}
        for i in range(len(items) - 1, -1, -1):
            size = items[i][0]
            reach[i] = reach[i + 1] | {x + size for x in reach[i + 1]}
        if low_target not in reach[0]:
            raise Fail(f"band counts cannot be met (low target {low_target})")
        need = low_target
        for i, (size, obj, is_seg) in enumerate(items):
            can_in = need - size in reach[i + 1]
            can_out = need in reach[i + 1]
            take = can_in and (not can_out or rng.random() < 0.5)
            obj['band'] = 'low' if take else 'mid'
            if take:
                need -= size

    def returns_plan(self):
        """Returns that non-adjustable groups make, and which groups are adjustable."""
        fixed_ret = 0
        self.adjustable = 0
        for pc in self.pieces:
            if pc['type'] != 'seg':
                continue
            seen = set()
            for gi, g in enumerate(pc['seg']['groups']):
                vals = members(g)
                free = any(v is None for v in vals)
                adjustable = gi > 0 and free
                g['adjustable'] = adjustable
                if adjustable:
                    self.adjustable += 1
                    for v in vals:
                        if v is not None:
                            seen.add(record(v))
                    continue
                r = 0
                for v in vals:
                    if v is not None:
                        r += record(v) in seen
                        seen.add(record(v))
                g['expect'] = r
                fixed_ret += r
        self.ret_left = RETURNS[self.t] - fixed_ret

    # -- filling ------------------------------------------------------------------------------
    def fill(self):
        self.res = Reserve()
        # Listed and imported values of this trace, and of every other trace.
        for pc in self.pieces:
            if pc['type'] == 'seg':
                for g in pc['seg']['groups']:
                    self.res.add([record(v) for v in members(g) if v is not None], pc['id'])
            else:
                for v in pc.get('vals', []):
                    if v is not None:
                        self.res.add([record(v)], pc['id'])
        own_lo = record(self.figures['lo'])
        self.res.add([record(v) for v in self.others_fixed if abs(record(v) - own_lo) > 20],
                     'other')
        # Regions of segments whose place a listed value fixes.
        for pc in self.pieces:
            if pc['type'] == 'seg' and not pc['seg']['fixed']:
                g0 = pc['seg']['groups'][0]
                if g0['F'] is not None or g0['Frange'] is not None:
                    self.prepare_segment(pc, fixed_top=True)
        for pc in self.pieces:
            if pc['type'] == 'cfree':
                for mini in pc['part']['minis']:
                    self.fill_mini(pc, mini)
            elif pc['type'] == 'sfree' and pc['vals'][0] is None:
                self.fill_scatter(pc)
            elif pc['type'] == 'seg' and not pc['seg']['fixed']:
                if 'rho' not in pc:
                    self.prepare_segment(pc, fixed_top=False)
                self.fill_segment(pc)
        if any(v != 0 for v in self.tokens.values()):
            raise Fail("step tokens left over")
        if self.ret_left != 0:
            raise Fail(f"returns off by {self.ret_left}")

    def neighbours(self, start, end):
        """The non-group value just before start (if any) and a known one at end."""
        prev = nxt = None
        if start > 0 and self.slots[start - 1]['kind'] in 'CS':
            prev = self.slots[start - 1]['val']
        if end < len(self.slots) and self.slots[end]['kind'] in 'CS':
            nxt = self.slots[end]['val']
        return prev, nxt

    def fits(self, vals, prev, nxt, recs, who):
        """Whether vals stay apart from their non-group neighbours and from reserved records."""
        return ((prev is None or abs(vals[0] - prev) > NEAR)
                and (nxt is None or abs(vals[-1] - nxt) > NEAR) and self.res.ok(recs, who))

    def value_range(self, band, export=False):
        lo_min = self.figures['lo'] + 600
        if export:     # read by a later trace too, so above every trace's smallest entry
            lo_min = max(lo_min, max(s['lo'] for s in FIGURES.values()) + 600)
        return (max(lo_min, 14000), BAND - 1) if band == 'low' else (BAND, HIGH - 10_000)

    def fill_mini(self, pc, mini):
        rng = self.rng
        shape = mini['shape']
        allowed = {('cross', 'b'), ('cross', 'a'), ('cross', 'm')} if mini['export'] else None
        forced = self.figures['lo'] if mini['min'] else None
        # Steps in window space; the record offset is chosen afterwards.
        u = upos(forced) if forced is not None else None
        first_tok = None
        if u is None:
            if len(shape) > 1:
                first_tok = self.pick_token(None, allowed)
                if first_tok is None:
                    raise Fail("no step token left")
                choices = [x for x in range(1, 512) if x != 256 and token_feasible(first_tok, x)]
                u = rng.choice(choices)
            else:
                u = rng.choice([x for x in range(1, 512) if x != 256])
        u0, off, offs = u, 0, [0]
        for i in range(len(shape) - 1):
            tok = first_tok if (i == 0 and first_tok) else self.pick_token(u, allowed)
            if tok is None:
                raise Fail("no feasible step token")
            self.tokens[tok] -= 1
            d = sample_step(tok, u, self.preference(), rng)
            if d is None:
                raise Fail("no step for token")
            off += d
            u = (u + d) % 512
            offs.append(off)
        start = mini['start']
        end = start + sum(shape)
        prev, nxt = self.neighbours(start, end)
        lo, hi = self.value_range(mini['band'], export=bool(mini['export']))
        for _ in range(400):
            if forced is not None:
                base = forced
            else:
                r0 = rng.randint((lo + 256) // 512 + 1, (hi - off) // 512 - 1)
                base = 512 * r0 + u0 - 256
            vals = [base + o for o in offs]
            if not (lo <= vals[0] and vals[-1] <= hi) and forced is None:
                continue
            recs = sorted({record(v) for v in vals})
            if self.fits(vals, prev, nxt, recs, ('mini', start)):
                break
        else:
            raise Fail("no place for a mini-cluster")
        self.res.add(recs, ('mini', start))
        i = start
        for v, k in zip(vals, shape):
            for _ in range(k):
                self.slots[i]['val'] = v
                i += 1
        if mini['export']:
            self.new_exports[mini['export']] = [v for v, k in zip(vals, shape) for _ in range(k)]

    def pick_token(self, u, allowed):
        cands, weights = [], []
        for tok, c in self.tokens.items():
            if c <= 0 or (allowed and tok not in allowed):
                continue
            if u is not None and not token_feasible(tok, u):
                continue
            cands.append(tok)
            weights.append(c * (4 if tok in HARD else 1))
        if not cands:
            return None
        return self.rng.choices(cands, weights)[0]

    def preference(self):
        high = self.tokens[('cross', 'b')] + self.tokens[('cross', 'm')]
        low = self.tokens[('same', 'a')] + self.tokens[('same', 'm')]
        if high > low:
            return 'high'
        if low > high:
            return 'low'
        return None

    def fill_scatter(self, pc):
        rng = self.rng
        start = pc['start']
        prev, nxt = self.neighbours(start, start + 1)
        lo, hi = self.value_range(pc['band'], export=self.t in SCATTER_EXPORTS)
        for _ in range(400):
            if pc['mult']:
                v = 512 * rng.randint(lo // 512 + 1, hi // 512 - 1)
            else:
                if pc['band'] == 'low':
                    v = rng.randint(SCATTER_LO, hi) if rng.random() < 0.88 else rng.randint(
                        lo, SCATTER_LO - 1)
                else:
                    v = rng.randint(lo, SCATTER_HI) if rng.random() < 0.94 else rng.randint(
                        SCATTER_HI, hi)
                if upos(v) in (0, 256):
                    continue
            if self.fits([v], prev, nxt, [record(v)], pc['id']):
                break
        else:
            raise Fail("no place for a scattered single")
        self.res.add([record(v)], pc['id'])
        pc['vals'] = [v]
        self.slots[start]['val'] = v

    def prepare_segment(self, pc, fixed_top):
        """Pick the ratio and region of a segment and reserve the records it may use."""
        rng = self.rng
        seg = pc['seg']
        groups = seg['groups']
        k = len(groups)
        g0 = groups[0]
        band = seg.get('band', 'mid')
        for _ in range(400):
            if g0['F'] is not None and g0['L'] is not None:
                rho = g0['F'] / g0['L']
            else:
                rho = rng.uniform(33.3, 34.7)
            if g0['F'] is not None:
                top = g0['F']
            elif g0['Frange'] is not None:
                top = rng.randint(*g0['Frange'])
            elif band == 'low':
                top = rng.randint(HIGH + 200_000 + (k - 1) * DELTA_MAX, int(rho * 995_000) - 2048)
            else:
                lo = max(38_000_000, int(rho * 1_020_000) + (k - 1) * DELTA_MAX)
                top = rng.randint(lo, self.figures['hi'] - 2_000_000)
            bottom = top - (k - 1) * DELTA_MAX
            if g0['L'] is not None and g0['F'] is None:
                rho = top / g0['L']
            hrec = range(record(bottom) - 1, record(top + 2048) + 2)
            lrec = range(record(int(bottom / rho)) - 1, record(int((top + 2048) / rho)) + 2)
            if fixed_top or self.res.ok(list(hrec) + list(lrec), pc['id']):
                break
        else:
            raise Fail("no region for a segment")
        self.res.add(list(hrec) + list(lrec), pc['id'])
        pc['rho'] = rho
        pc['top'] = top

    def fill_segment(self, pc):
        rng = self.rng
        seg = pc['seg']
        groups = seg['groups']
        rho = pc['rho']
        seen = set()
        prevF = None
        future_fixed = [set() for _ in groups]
        acc = set()
        for gi in range(len(groups) - 1, -1, -1):
            future_fixed[gi] = set(acc)
            g = groups[gi]
            acc |= {record(v) for v in members(g) if v is not None}
        start = pc['start']
        pos = start
        for gi, g in enumerate(groups):
            cands = self.group_candidates(pc, g, gi, prevF, rho, seen, future_fixed[gi])
            if not cands:
                raise Fail("no candidate for a group")
            if g['adjustable']:
                counts = sorted({c[0] for c in cands})
                want = self.want_returns(counts, g)
                pick = [c for c in cands if c[0] == want]
                typical = [c for c in pick if c[4] is None or c[4] <= 1700]
                ret, F, F2, L, _ = rng.choice(typical or pick)
                self.ret_left -= ret
                self.adjustable -= 1
            else:
                ret, F, F2, L, _ = rng.choice(cands)
                if ret != g['expect']:
                    raise Fail("a fixed group returns differently than planned")
            g['F'], g['F2'], g['L'] = F, F2, L
            for v in members(g):
                seen.add(record(v))
                self.slots[pos]['val'] = v
                pos += 1
            self.res.add([record(v) for v in members(g)], pc['id'])
            prevF = F

    def group_candidates(self, pc, g, gi, prevF, rho, seen, future):
        rng = self.rng
        hi_max = self.figures['hi']
        band = pc['seg'].get('band', 'mid')
        if g['F'] is not None:
            Fs = [(g['F'], None)]
        elif gi == 0:
            Fs = [(pc['top'] - rng.randint(0, 300), None) for _ in range(20)]
            if g['Frange']:
                Fs = [(rng.randint(*g['Frange']), None) for _ in range(20)]
        else:
            deltas = {rng.randint(DELTA_MIN, 1700) for _ in range(70)}
            deltas |= {rng.randint(1700, DELTA_MAX) for _ in range(25)}
            Fs = [(prevF - d, d) for d in sorted(deltas)]
        out = []
        for F, delta in Fs:
            F2 = F + g['gap'] if g['kind'] == 'd' else None
            if F < HIGH or upos(F) in (0, 256):
                continue
            top = F2 if F2 else F
            if top > hi_max or (top == hi_max and not (g['F'] == hi_max or g['F2'] == hi_max)):
                continue
            if g['L'] is not None:
                Ls = [g['L']]
            else:
                base = round(F / rho)
                Ls = [base + j for j in (-3, -2, -1, 0, 1, 2, 3)]
            for L in Ls:
                if upos(L) in (0, 256) and g['L'] is None:
                    continue
                if not (RATIO_LO <= F / L <= RATIO_HI) and (F, L) != EXCEPTION[1:]:
                    continue
                if L >= HIGH or L <= self.figures['lo']:
                    continue
                if g['L'] is None and (L < BAND) != (band == 'low'):
                    continue
                recs = [record(F)] + ([record(F2)] if F2 else []) + [record(L)]
                if g['F'] is None and any(r in future for r in recs[:-1]):
                    continue
                if g['L'] is None and recs[-1] in future:
                    continue
                if not self.res.ok(recs, pc['id']):
                    continue
                ret = sum(1 for r in recs if r in seen)
                out.append((ret, F, F2, L, delta))
        return out

    def want_returns(self, counts, g):
        rng = self.rng
        left, n = self.ret_left, self.adjustable
        if n == 1:
            if left not in counts:
                raise Fail("last adjustable group cannot make the returns")
            return left
        avg = left / n
        target = int(avg) + (1 if rng.random() < avg - int(avg) else 0)
        # Keep what is left within an easy reach of the groups after this one.
        ok = [c for c in counts if (n - 1) * 1 <= left - c <= (n - 1) * 2]
        pool = ok or counts
        return min(pool, key=lambda c: (abs(c - target), rng.random()))

    def result(self):
        reads = [s['val'] for s in self.slots]
        if any(v is None for v in reads):
            raise Fail("unfilled slot")
        trace = [LISTED[self.t][0][0]] + reads + [-1]
        kinds = []
        for kind, _ in self.stretches:
            if kind == 'S' and kinds and kinds[-1] == 'S':
                continue
            kinds.append(kind)
        return trace, kinds


def build_trace(t, exports, others_fixed, seed):
    last = None
    for attempt in range(MAX_ATTEMPTS):
        b = TraceBuilder(t, attempt, exports, others_fixed, seed)
        try:
            b.expand()
            b.layout()
            b.plan_quotas()
            b.fill()
            trace, kinds = b.result()
            problems = trace_problems(t, trace, kinds)
            if problems:
                raise Fail("; ".join(problems[:3]))
        except Fail as e:
            last = e
            if os.environ.get('GEN_TRACES_DEBUG'):
                print(f"a{t} attempt {attempt}: {e}", file=sys.stderr)
            continue
        return trace, b.new_exports, b.pieces, attempt
    raise SystemExit(f"a{t}: no valid trace in {MAX_ATTEMPTS} attempts (last: {last})")


def scatter_export_values(pieces):
    return [pc['vals'][0] for pc in pieces
            if pc['type'] == 'sfree' and not pc['imported'] and not pc['mult']]



# ---------------------------------------------------------------------------------------------
# Verification: every figure recomputed from the traces and compared with the tables above.

def classify(reads):
    """Per read entry: 'G' (member of a two-level group), 'C' (clustered) or 'S' (scattered)."""
    n = len(reads)
    kind = ['?'] * n
    for i, v in enumerate(reads):
        if v >= HIGH or (i > 0 and reads[i - 1] >= HIGH):
            kind[i] = 'G'
    for i, v in enumerate(reads):
        if kind[i] == 'G':
            continue
        near = any(0 <= j < n and kind[j] != 'G' and abs(reads[j] - v) <= NEAR
                   for j in (i - 1, i + 1))
        kind[i] = 'C' if near else 'S'
    return kind


def stretch_kinds(kind):
    """The kinds of the stretches of equal kind, in order."""
    return [k for i, k in enumerate(kind) if i == 0 or kind[i - 1] != k]


def parse_trace_groups(reads):
    """(high entries, low entry, index of the first high) per group; None if a trace ends high."""
    groups, i = [], 0
    while i < len(reads):
        if reads[i] < HIGH:
            i += 1
            continue
        j = i
        while j < len(reads) and reads[j] >= HIGH:
            j += 1
        if j >= len(reads):
            return None
        groups.append((reads[i:j], reads[j], i))
        i = j + 1
    return groups


def trace_figures(reads):
    """The shape counts of FIGURES, each read entry compared with the one before it."""
    steps = list(zip(reads, reads[1:]))
    return dict(equal=sum(x == y for x, y in steps),
                same=sum(record(x) == record(y) for x, y in steps),
                p512=sum(y - x == 512 for x, y in steps),
                p1024=sum(y - x == 1024 for x, y in steps),
                distinct=len({record(v) for v in reads}),
                band=(sum(v < BAND for v in reads), sum(BAND <= v < HIGH for v in reads),
                      sum(v >= HIGH for v in reads)))


def trace_problems(t, trace, planned_kinds=None):
    """What is off in trace t (empty when every figure holds); planned_kinds, when given, is the
    order of stretches the skeleton laid out."""
    sp = FIGURES[t]
    if len(trace) != sp['n'] or trace[-1] != -1 or any(v < 0 for v in trace[:-1]):
        return [f"a{t}: wants {sp['n']} entries, the last one the only negative, -1"]
    p = []
    reads = trace[1:-1]
    for start, vals in LISTED[t].items():
        if trace[start:start + len(vals)] != vals:
            p.append(f"a{t}: positions from {start} hold {trace[start:start + len(vals)]}, "
                     f"want {vals}")
    lo, hi = min(reads), max(reads)
    got = (lo, record(lo), hi, record(hi), reads.count(hi))
    want = (sp['lo'], sp['lo_rec'], sp['hi'], sp['hi_rec'], 1)
    if got != want:
        p.append(f"a{t}: smallest, its record, largest, its record, its count {got}, want {want}")
    for k, v in trace_figures(reads).items():
        if v != sp[k]:
            p.append(f"a{t}: {k} {v}, want {sp[k]}")
    if t in LEAD_UNREAD and trace[0] in trace[1:]:
        p.append(f"a{t}: the leading entry is read too")
    halves = [i for i, v in enumerate(reads, 1) if v % 512 == 256]
    if halves != ([HALFWAY[1]] if t == HALFWAY[0] else []):
        p.append(f"a{t}: half-way entries at {halves}")
    groups = parse_trace_groups(reads)
    if groups is None or any(len(hs) > 2 for hs, _, _ in groups):
        return p + [f"a{t}: a group with more than two high entries or without a low one"]
    kind = classify(reads)
    got = stretch_kinds(kind)
    if got[-1] != 'G' or set(got) != set('CSG') or (planned_kinds and got != planned_kinds):
        p.append(f"a{t}: stretches {''.join(got)}")
    if any(reads[i] == reads[i + 1] and kind[i] + kind[i + 1] != 'CC'
           for i in range(len(reads) - 1)):
        p.append(f"a{t}: a repeat outside a cluster")
    return p


def median(xs):
    xs = sorted(xs)
    n = len(xs)
    return xs[n // 2] if n % 2 else (xs[n // 2 - 1] + xs[n // 2]) / 2


def verify_all(traces):
    """Every figure; returns a list of problems (empty when all hold) and some statistics."""
    p = [x for t in range(1, 6) for x in trace_problems(t, traces[t])]
    if p:
        return p, {}
    singles, gaps, outside = 0, {}, []
    steps, near = [], []
    clustered = twice = scattered = scattered_in = pairs_in_run = down = 0
    for t in range(1, 6):
        reads = traces[t][1:-1]
        kind = classify(reads)
        groups = parse_trace_groups(reads)
        for hs, low, _ in groups:
            if len(hs) == 1:
                singles += 1
            else:
                gaps[hs[1] - hs[0]] = gaps.get(hs[1] - hs[0], 0) + 1
            if not RATIO_LO <= hs[0] / low <= RATIO_HI:
                outside.append((t, hs[0], low))
        for (h1, _, i1), (h2, _, i2) in zip(groups, groups[1:]):
            if set(kind[i1:i2]) == {'G'}:        # consecutive groups within one stretch
                pairs_in_run += 1
                down += 0 < h1[0] - h2[0] <= DELTA_MAX
        for i, v in enumerate(reads):
            if kind[i] == 'C':
                clustered += 1
                twice += v in reads[max(i - 1, 0):i] + reads[i + 1:i + 2]
            elif kind[i] == 'S':
                scattered += 1
                scattered_in += SCATTER_LO <= v <= SCATTER_HI
            if i and kind[i - 1] == kind[i] == 'C' and 0 < abs(v - reads[i - 1]) <= NEAR:
                near.append(v - reads[i - 1])
    steps = [d for d in near if d > 0]
    all_reads = [v for t in range(1, 6) for v in traces[t][1:-1]]
    if (singles, gaps) != (SINGLES, GAPS):
        p.append(f"groups: {singles} with one high entry, those with two by gap {gaps}")
    if outside != [EXCEPTION]:
        p.append(f"groups outside the ratio range: {outside}")
    multiples = sum(v % 512 == 0 for v in all_reads)
    if multiples != MULTIPLES:
        p.append(f"{multiples} multiples of 512, want {MULTIPLES}")
    sets = {t: set(traces[t][1:-1]) for t in traces}
    shared = {(a, b): len(sets[a] & sets[b]) for a in range(1, 6) for b in range(a + 1, 6)}
    for (a, b), n in shared.items():
        want = SHARED.get((a, b))
        if n != want and (want is not None or n > SHARED_OTHER_MAX):
            p.append(f"a{a} and a{b} share {n} values, want {want or f'<= {SHARED_OTHER_MAX}'}")
    if set.intersection(*sets.values()):
        p.append("a value read by all five traces")
    if not steps or median(steps) != MEDIAN_STEP:
        p.append(f"median clustered step {steps and median(steps)}")
    if 20 * sum(d > LARGE_STEP for d in steps) >= len(steps) or 4 * len(steps) <= 3 * len(near):
        p.append("clustered steps are not small and mostly ascending")
    if twice * 2 <= clustered:
        p.append("clusters not mostly read twice")
    if scattered_in * 4 < scattered * 3:
        p.append(f"scattered reads not mostly {SCATTER_LO}..{SCATTER_HI}")
    if down * 2 <= pairs_in_run:
        p.append("groups do not mostly step down")
    stats = dict(shared={f"a{a}/a{b}": n for (a, b), n in shared.items() if n}, steps=len(steps),
                 twice=f"{twice}/{clustered}", scattered_in=f"{scattered_in}/{scattered}",
                 down=f"{down}/{pairs_in_run}")
    return p, stats


# ---------------------------------------------------------------------------------------------
# Output.

def cpp_source(traces):
    lines = ["// Generated by tools/gen_traces.py; do not edit.",
             '#include "voicetest/read_traces.h"', "",
             "namespace sorel {", "namespace {", ""]
    for t in range(1, 6):
        lines.append(f"constexpr std::int32_t kA{t}[] = {{")
        vals = traces[t]
        # Eight aligned columns, the layout clang-format gives a long list of numbers.
        width = max(len(str(v)) for v in vals) + 2
        for i in range(0, len(vals), 8):
            lines.append(("    " + "".join(f"{v},".ljust(width) for v in vals[i:i + 8])).rstrip())
        lines.append("};")
        lines.append("")
    lines += ["}  // namespace", "",
              "std::span<const std::int32_t> RecordedTrace(int number) {",
              "  switch (number) {"]
    for t in range(1, 6):
        lines.append(f"    case {t}:")
        lines.append(f"      return kA{t};")
    lines += ["    default:", "      return {};", "  }", "}", "", "}  // namespace sorel", ""]
    return "\n".join(lines)


def explain_difference(path, text, traces):
    """Why a committed file differs from the output: its first differing entry and the figures
    its data breaks."""
    out = [f"{path} differs from the generator's output"]
    try:
        old = {int(t): [int(v) for v in body.replace(",", " ").split()]
               for t, body in re.findall(r"kA(\d)\[\] = \{(.*?)\};", text, re.S)}
    except ValueError:
        old = {}
    if sorted(old) != [1, 2, 3, 4, 5]:
        return "\n".join(out + ["  it does not hold five readable lists kA1 to kA5"])
    for t in range(1, 6):
        i = next((i for i, (a, b) in enumerate(zip(old[t], traces[t])) if a != b),
                 min(len(old[t]), len(traces[t])))
        if old[t] != traces[t]:
            out.append(f"  first at a{t} position {i}: "
                       f"{old[t][i] if i < len(old[t]) else 'end'} in the file, "
                       f"{traces[t][i] if i < len(traces[t]) else 'end'} generated")
            break
    else:
        out.append("  the entries agree; only the text around them differs")
    out += [f"  figure off: {x}" for x in verify_all(old)[0]]
    return "\n".join(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default_out = os.path.join(here, "..", "voicetest", "read_traces_data.cpp")
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=default_out)
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--seed", default=str(SEED), help="for experiments; the data uses SEED")
    args = ap.parse_args()
    t0 = time.monotonic()
    listed_values = [v for t in LISTED for vals in LISTED[t].values() for v in vals if v > 0]
    listed_values += [EXCEPTION[1], EXCEPTION[2]] + [FIGURES[t]['hi'] for t in FIGURES]
    traces, exports, attempts = {}, {}, {}
    for t in range(1, 6):
        trace, new_exports, pieces, attempt = build_trace(t, exports, listed_values, args.seed)
        traces[t] = trace
        exports.update(new_exports)
        if t in SCATTER_EXPORTS:
            exports[SCATTER_EXPORTS[t]] = scatter_export_values(pieces)
        attempts[t] = attempt
    problems, stats = verify_all(traces)
    if problems:
        for x in problems:
            print("FIGURE OFF:", x, file=sys.stderr)
        raise SystemExit(1)
    src = cpp_source(traces)
    elapsed = time.monotonic() - t0
    print(f"all figures hold in {elapsed:.2f} s (attempts per trace {attempts})", file=sys.stderr)
    print(f"  {stats}", file=sys.stderr)
    if args.check:
        with open(args.out, encoding="utf-8") as fh:
            committed = fh.read()
        if committed != src:
            raise SystemExit(explain_difference(args.out, committed, traces))
        print(f"{args.out} is up to date", file=sys.stderr)
        return
    with open(args.out, "w", encoding="utf-8", newline="\n") as fh:
        fh.write(src)


if __name__ == "__main__":
    main()
