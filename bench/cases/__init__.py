"""The benchmark cases, by name, in the order of the table. Each module has NAME, GOAL
(what its floor is and why its goal is what it is) and run(ctx)."""

from cases import (
    body,
    limits,
    link,
    memory,
    overhead,
    pokes,
    queue,
    startup,
    transfer,
)

TABLE_ORDER = [transfer, link, body, overhead, queue, memory, startup, pokes, limits]
# Run order: the start-up first, while nothing else has run, and the pokes, which start no
# upload; the large uploads before the small ones; the slow links, which mostly wait on
# their link, and the limits last, since their failing uploads take minutes.
RUN_ORDER = [startup, pokes, body, transfer, memory, overhead, queue, link, limits]
NAMES = [case.NAME for case in TABLE_ORDER]
