#!/usr/bin/env python3
"""The include graph of the source tree, checked: the text rooms are layers
(platform, failure, float80, number_text, runtime, bottom to top) and none
includes a room above it or one outside the layers; no file includes itself
through others, and no module (x.h with x.cpp) needs itself through others.

    python3 tools/check_layers.py [tree]    # prints the offenders, exits 1
"""
import os, re, sys, itertools
root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
order = ['platform', 'failure', 'float80', 'number_text', 'runtime']
rank = {d: i for i, d in enumerate(order)}
inc = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
files = {}
for dp, dns, fns in os.walk(root):
    dns[:] = [d for d in dns if not d.startswith(('build', '.'))]
    for fn in fns:
        if fn.endswith(('.h', '.cpp', '.inc')):
            rel = os.path.relpath(os.path.join(dp, fn), root)
            files[rel] = inc.findall(open(os.path.join(dp, fn), errors='replace').read())
bad = []
for f, incs in files.items():
    top = f.split('/')[0]
    for i in incs:
        target = i if i in files else os.path.normpath(os.path.join(os.path.dirname(f), i))
        ttop = target.split('/')[0]
        if top in rank:
            if ttop in rank and rank[ttop] > rank[top]:
                bad.append(f'{f}: includes {target} (layer {ttop} above {top})')
            if ttop not in rank and target in files:
                bad.append(f'{f}: includes {target} (outside the layers)')
        if 'textsvc' in i:
            bad.append(f'{f}: still names textsvc: {i}')
# Graphs: file level and module level (a.h and a.cpp are one node).
def edges(node_of):
    g = {}
    for f, incs in files.items():
        for i in incs:
            t = i if i in files else os.path.normpath(os.path.join(os.path.dirname(f), i))
            if t not in files: continue
            a, b = node_of(f), node_of(t)
            if a != b: g.setdefault(a, set()).add(b)
    return g
def cycles(g):
    idx, low, st, on, out, n = {}, {}, [], set(), [], [0]
    sys.setrecursionlimit(10000)
    def sc(v):
        idx[v] = low[v] = n[0]; n[0] += 1; st.append(v); on.add(v)
        for w in g.get(v, ()):
            if w not in idx: sc(w); low[v] = min(low[v], low[w])
            elif w in on: low[v] = min(low[v], idx[w])
        if low[v] == idx[v]:
            comp = []
            while True:
                w = st.pop(); on.discard(w); comp.append(w)
                if w == v: break
            if len(comp) > 1: out.append(sorted(comp))
    for v in list(g):
        if v not in idx: sc(v)
    return out
for c in cycles(edges(lambda f: f)):
    bad.append('file cycle: ' + ' <-> '.join(c))
for c in cycles(edges(lambda f: os.path.splitext(f)[0])):
    bad.append('module cycle: ' + ' <-> '.join(c))
print('\n'.join(bad) if bad else f'ok: {len(files)} files, layers {" < ".join(order)}, no file or module cycle')
sys.exit(1 if bad else 0)
