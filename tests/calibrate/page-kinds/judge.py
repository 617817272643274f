# judge.py ZORVANI_CALIBRATE PAGE_DIR...: runs --detect on each page and checks the
# WP.ini it writes against every printed number: a frame must hold its own number and
# meet no other. Prints the read rate per kind and every wrong WP.ini.
import sys, json, subprocess, os, datetime
binary = sys.argv[1]
tally = {}
for d in sys.argv[2:]:
    m = json.load(open(f'{d}/meta.json'))
    W, H, y, mo = m['width'], m['height'], m['year'], m['month']
    ini = f'{d}/WP.ini'
    if os.path.exists(ini): os.remove(ini)
    r = subprocess.run([binary, '--picture', f'{d}/page.jpg', '--detect', '--year', str(y), '--month', str(mo), '--output', ini], capture_output=True, text=True, timeout=300)
    k = m['kind']; t = tally.setdefault(k, [0, 0, 0])
    t[0] += 1
    if r.returncode != 0:
        print(f'{d:16} {W}x{H} {m["font"]:24} refused: {r.stderr.strip()[:230]}'); continue
    v = {}
    for line in open(ini):
        if '=' in line: a, b = line.strip().split('='); v[a] = int(b) / 1e11
    cw, ch = v['CELL_X'] * W, v['CELL_Y'] * H; sx, sy = v['SPACING_X'] * W, v['SPACING_Y'] * H
    cx, cy = v['CORNER_X'] * W, v['CORNER_Y'] * H; th = v['RECT_THICKNESS'] * W
    first = datetime.date(y, mo, 1).weekday()
    truth = m['truth']; wrong = ''
    for day, b in enumerate(truth, 1):
        if b is None: continue
        i = first + day - 1; r_, c = i // 7, i % 7
        fx, fy = cx + c * sx, cy + r_ * sy
        inner = (fx + th, fy + th, fx + cw - th, fy + ch - th)
        if not (b[0] >= inner[0] - 1 and b[1] >= inner[1] - 1 and b[2] <= inner[2] + 1 and b[3] <= inner[3] + 1):
            wrong = f'day {day} {b} not inside {tuple(round(q) for q in inner)}'; break
        for other, o in enumerate(truth, 1):
            if o and other != day and o[0] < fx + cw and fx < o[2] and o[1] < fy + ch and fy < o[3]:
                wrong = f'frame of day {day} meets day {other}'; break
        if wrong: break
    if wrong:
        t[2] += 1; print(f'{d:16} {W}x{H} {m["font"]:24} WRONG: {wrong}')
    else:
        t[1] += 1; print(f'{d:16} {W}x{H} {m["font"]:24} read: {r.stderr.strip()[:150]}')
for k, (n, rd, wr) in tally.items(): print(f'{k}: {rd} of {n} read, {wr} wrong')
print('total:', sum(t[1] for t in tally.values()), 'of', sum(t[0] for t in tally.values()), 'read;', sum(t[2] for t in tally.values()), 'wrong')
