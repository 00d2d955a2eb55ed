#!/usr/bin/env bash
# `kestrelsync-publish status` on made-up access logs of a download server: three weeks of a
# fleet of 80 workstations taking three releases (one of them phased), with failures, machines
# that stopped reporting, new machines, the list and object requests around them, a probe or
# two and a line meant to inject HTML. The logs are rotated as logrotate leaves them (the older
# ones gzip-compressed). Prints the fleet, writes the page, and with chromium installed takes
# the screenshot docs/fleet-status.png of it. Needs no network.
#
#   scripts/fleet-status-demo.sh [DIR]     (DIR: where the logs and the page go)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
demo=${1:-build/fleet-status-demo}
mkdir -p "$demo"

tool=build/native-debug/src/kestrelsync-publish
if [ ! -x "$tool" ]; then
    cmake --preset native-debug >/dev/null
    cmake --build --preset native-debug --target kestrelsync-publish
fi

python3 - "$demo" <<'PY'
import datetime, gzip, random, sys, urllib.parse

demo = sys.argv[1]
rng = random.Random(20261209)
zone = datetime.timezone(datetime.timedelta(hours=9))
start = datetime.datetime(2026, 11, 18, tzinfo=zone)
days = 22
releases = [(0, "20261112093000"), (3, "20261121100000"), (10, "20261128091500"),
            (20, "20261208091500")]
phased_from = 20  # the last release reaches one group of machines a day from then on
causes = ["download", "hash", "disk-space", "locked-file", "proxy-auth", "signature",
          "post-install"]
machines = [{"id": "%032x" % rng.getrandbits(128), "serial": releases[0][1],
             "ip": "10.20.%d.%d" % (rng.randint(1, 9), rng.randint(2, 250)),
             "last_day": days if rng.random() > 0.08 else rng.randint(4, 14),
             "first_day": 0 if rng.random() > 0.1 else rng.randint(5, 15),
             "weak": rng.random() < 0.12, "group": rng.randint(0, 2)} for _ in range(80)]
for m in machines:
    if m["first_day"] > 0:
        m["serial"] = ""

def stamp(t):
    return t.strftime("%d/%b/%Y:%H:%M:%S %z")

def line(ip, t, target, status, size, agent="KestrelSync/15.3.3.1"):
    return '%s - - [%s] "GET %s HTTP/1.1" %d %d "-" "%s"\n' % (ip, stamp(t), target, status,
                                                                 size, agent)

def report(m, t, result, cause, nbytes, ms):
    query = urllib.parse.urlencode({"id": m["id"], "serial": m["serial"], "result": result,
                                    "cause": cause, "bytes": nbytes, "ms": ms,
                                    "v": "15.3.3.1"})
    return line(m["ip"], t, "/lumen/_report?" + query, 404, 153)

def due(m, day):
    late = [s for d, s in releases if d <= day and (d < phased_from or day >= d + m["group"])]
    return late[-1]

lines = []
for day in range(days):
    date = start + datetime.timedelta(days=day)
    if date.weekday() >= 5 and rng.random() < 0.8:
        continue
    for m in machines:
        if not (m["first_day"] <= day < m["last_day"]) or rng.random() < 0.06:
            continue
        t = date + datetime.timedelta(hours=8, minutes=rng.randint(0, 90), seconds=rng.randint(0, 59))
        lines.append((t, line(m["ip"], t, "/lumen/_listfile.txt", 200, 48213)))
        want = due(m, day)
        if rng.random() < (0.25 if m["weak"] else 0.03):
            cause = rng.choice(causes[:4] if m["weak"] else causes)
            result = "stopped" if cause == "locked-file" and rng.random() < 0.5 else "failed"
            lines.append((t, report(m, t + datetime.timedelta(seconds=40), result, cause, 0, 40210)))
        elif m["serial"] != want:
            for k in range(rng.randint(1, 4)):
                lines.append((t, line(m["ip"], t + datetime.timedelta(seconds=k + 1),
                                      "/lumen/objects/%02x/%064x" % (k, rng.getrandbits(256)),
                                      200, 1048576)))
            m["serial"] = want
            lines.append((t, report(m, t + datetime.timedelta(seconds=30), "updated", "",
                                    rng.randint(10**6, 9 * 10**7), rng.randint(4000, 60000))))
        else:
            result = "no-run" if rng.random() < 0.02 else "current"
            lines.append((t, report(m, t + datetime.timedelta(seconds=2), result, "", 0,
                                    rng.randint(150, 900))))
    probe = date + datetime.timedelta(hours=3, minutes=rng.randint(0, 59))
    lines.append((probe, '203.0.113.7 - - [%s] "\\x16\\x03\\x01\\x02\\x00\\x01" 400 157 "-" "-"\n'
                  % stamp(probe)))
    lines.append((probe, line("203.0.113.7", probe, "/.env", 404, 153, "curl/8.5")))
hostile = start + datetime.timedelta(days=9, hours=23)
lines.append((hostile, line("198.51.100.4", hostile,
                            "/lumen/_report?id=%032x&serial=20261121100000&result=failed&cause=%%3Cscript%%3Ealert(1)%%3C%%2Fscript%%3E" % 1,
                            404, 153, "Mozilla/5.0")))
lines.append((hostile, "this is not an access log line\n"))
lines.sort(key=lambda pair: pair[0])

# Rotated as logrotate leaves them: access.log (the last week), access.log.1, then .gz files.
cut = [start + datetime.timedelta(days=d) for d in (7, 15)]
parts = [[l for t, l in lines if t < cut[0]], [l for t, l in lines if cut[0] <= t < cut[1]],
         [l for t, l in lines if t >= cut[1]]]
with gzip.open(demo + "/access.log.2.gz", "wt") as f:
    f.writelines(parts[0])
with open(demo + "/access.log.1", "w") as f:
    f.writelines(parts[1])
with open(demo + "/access.log", "w") as f:
    f.writelines(parts[2])
PY

"$tool" status "$demo/access.log" "$demo/access.log.2.gz" "$demo/access.log.1" \
    --html "$demo/fleet.html"
if command -v chromium >/dev/null; then
    chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
        --screenshot="$repo/docs/fleet-status.png" --window-size=1200,1400 \
        "file://$(cd "$demo" && pwd)/fleet.html" 2>/dev/null
    echo "Screenshot: docs/fleet-status.png"
fi
