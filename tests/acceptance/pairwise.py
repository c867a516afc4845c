#!/usr/bin/python3
"""A deterministic pairwise (all-pairs) design: every value of every factor meets every value of
every other factor in at least one row, in far fewer rows than the full product.

Greedy and free of randomness, so the same factors always give the same rows: a row starts from
the first pair not yet covered (in factor order, then value order) and takes, for each remaining
factor in turn, the value that covers the most uncovered pairs with the values already chosen
(the first such value on a tie).

    python3 pairwise.py        prints the rows of the acceptance matrix, one per line
"""
from itertools import combinations


def pairwise(factors):
    """factors: list of (name, [values]). Returns a list of rows, each a dict name -> value."""
    names = [n for n, _ in factors]
    values = [v for _, v in factors]
    uncovered = set()
    for i, j in combinations(range(len(factors)), 2):
        for a in range(len(values[i])):
            for b in range(len(values[j])):
                uncovered.add((i, a, j, b))
    rows = []
    while uncovered:
        i, a, j, b = min(uncovered)
        chosen = {i: a, j: b}
        for k in range(len(factors)):
            if k in chosen:
                continue
            best, gain = 0, -1
            for c in range(len(values[k])):
                g = sum(1 for m, d in chosen.items()
                        if (min(m, k), d if m < k else c, max(m, k), c if m < k else d) in uncovered)
                if g > gain:
                    best, gain = c, g
            chosen[k] = best
        for m, n in combinations(sorted(chosen), 2):
            uncovered.discard((m, chosen[m], n, chosen[n]))
        rows.append({names[k]: values[k][chosen[k]] for k in range(len(factors))})
    return rows


def uncovered_pairs(factors, rows):
    """The pairs of factor values that no row holds (empty for a complete design)."""
    missing = []
    for (n1, v1), (n2, v2) in combinations(factors, 2):
        for a in v1:
            for b in v2:
                if not any(r[n1] == a and r[n2] == b for r in rows):
                    missing.append((n1, a, n2, b))
    return missing


if __name__ == "__main__":
    import matrix
    rows = pairwise(matrix.FACTORS)
    for n, row in enumerate(rows, 1):
        print(n, " ".join(f"{k}={v}" for k, v in row.items()))
    print(f"{len(rows)} rows, {len(uncovered_pairs(matrix.FACTORS, rows))} pairs uncovered")
