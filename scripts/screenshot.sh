#!/usr/bin/env bash
# Makes the README's picture of tabrix-studio (docs/studio.png) without a display: builds
# the program, makes a small sample database and lets the program photograph its own
# window on Qt's offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S . -B "$build" -G Ninja -DTABRIX_BUILD_BENCH=OFF
fi
cmake --build "$build" --target tabrix-studio -j 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/shop.db" <<'PY'
import random, sqlite3, sys
random.seed(7)
db = sqlite3.connect(sys.argv[1])
db.execute("CREATE TABLE customers (id INTEGER PRIMARY KEY, name VARCHAR(30), city VARCHAR(20))")
db.execute("CREATE TABLE orders (id INTEGER PRIMARY KEY, customer VARCHAR(30), city VARCHAR(20),"
           " placed DATE, items INTEGER, total NUMERIC(10,2), note VARCHAR(40))")
db.execute("CREATE VIEW large_orders AS SELECT * FROM orders WHERE total > 400")
names = ["Anna Berg", "Zoë Martin", "Luis Ortega", "Mei Chen", "Olu Ade", "Ida Nilsen", "Tom Gray"]
cities = ["Oslo", "Lyon", "Sevilla", "Taipei", "Lagos", "Bergen", "Leeds"]
notes = ["", "gift wrap", "call before delivery", "", "express", "", "pick-up, door 3"]
for i in range(1, 5001):
    k = random.randrange(len(names))
    db.execute("INSERT INTO orders VALUES (?,?,?,?,?,?,?)",
               (i, names[k], cities[k], "2026-%02d-%02d" % (random.randint(1, 12), random.randint(1, 28)),
                random.randint(1, 9), round(random.uniform(5, 900), 2), random.choice(notes)))
db.executemany("INSERT INTO customers VALUES (?,?,?)", [(i + 1, n, cities[i]) for i, n in enumerate(names)])
db.commit()
PY
mkdir -p docs
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work" "$build/studio/tabrix-studio" "$work/shop.db" \
  --table orders --screenshot docs/studio.png
echo "screenshot: docs/studio.png"
