# make-page.py KIND SEED OUTDIR: a calendar page of one of five kinds (grey, table, mono,
# weeks, photo) drawn with ImageMagick in the system's fonts, with each printed number's box
# as its truth (meta.json). Pages to tune --detect on; keep a held-out set of seeds
# apart and look at it only at the end.
import sys, random, subprocess, calendar, datetime, os, json
kind, seed, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
R = random.Random(seed * 100 + sum(map(ord, kind)))
os.makedirs(out, exist_ok=True)
screens = [(1366,768),(1920,1080),(2560,1440),(3840,2160),(2560,1080),(1080,1920),(1600,900),(3440,1440)]
year = R.choice(range(2025, 2035)); month = R.randint(1, 12)
first = datetime.date(year, month, 1).weekday()  # Monday 0
days = calendar.monthrange(year, month)[1]
def cell(d):
    i = first + d - 1
    return i // 7, i % 7
draws = []     # (font, size, colour, x, y, text, is_day)
rects = []     # mvg rectangles/lines before text
bg = None
if kind == 'grey':
    W, H = R.choice([(3840,2160),(2560,1440),(3440,1440),(3840,1600),(2560,1600)])
    dh = R.uniform(0.0045, 0.0065) * H          # digit height
    size = dh / 0.73
    font = R.choice(['DejaVu-Sans-ExtraLight','Liberation-Sans','DejaVu-Sans','Liberation-Sans-Narrow'])
    cw = R.uniform(3.5, 6) * dh * 1.2; ch = cw * R.uniform(0.55, 0.9)
    gx = R.uniform(0.05, 0.5) * W; gy = R.uniform(0.1, 0.5) * H
    grey = R.choice(['#777777','#888888','#666666','#999999'])
    line = R.choice(['#cccccc','#d8d8d8','#c0c0c0'])
    rows = 6
    for r in range(1, rows):
        rects.append(f"stroke '{line}' stroke-width 1 line {gx:.0f},{gy+r*ch:.0f} {gx+7*cw:.0f},{gy+r*ch:.0f}")
    for c in range(1, 7):
        rects.append(f"stroke '{line}' stroke-width 1 line {gx+c*cw:.0f},{gy:.0f} {gx+c*cw:.0f},{gy+rows*ch:.0f}")
    for d in range(1, days+1):
        r, c = cell(d); t = str(d)
        draws.append((font, size, grey, gx + c*cw + cw*0.5 - len(t)*0.28*size, gy + r*ch + ch*0.5 + dh/2, t))
    bg = 'white'
elif kind == 'table':
    W, H = R.choice(screens[:5] + [(1600,900)])
    size = R.uniform(0.018, 0.03) * H; dh = size * 0.73
    font = R.choice(['DejaVu-Sans','Liberation-Sans','DejaVu-Sans-Bold','Liberation-Sans-Narrow'])
    cw = R.uniform(2.5, 4.5) * size; ch = cw * R.uniform(0.6, 0.95)
    gx = R.uniform(0.03, 0.45) * W; gy = R.uniform(0.15, 0.45) * H
    band = R.uniform(0.5, 1.0) * size * 1.4
    rows = 6
    rects.append(f"fill '#303040' stroke none rectangle {gx:.0f},{gy-band:.0f} {gx+7*cw:.0f},{gy-1:.0f}")
    for c in range(7):
        name = ['Mon','Tue','Wed','Thu','Fri','Sat','Sun'][c]
        draws.append((font, band*0.55, 'white', gx + c*cw + 0.1*cw, gy - band*0.25, name, False))
    for r in range(rows):
        for c in (5, 6):
            rects.append(f"fill '#e4e4e4' stroke none rectangle {gx+c*cw:.0f},{gy+r*ch:.0f} {gx+(c+1)*cw:.0f},{gy+(r+1)*ch:.0f}")
    for r in range(rows + 1):
        rects.append(f"stroke '#999999' stroke-width 1 line {gx:.0f},{gy+r*ch:.0f} {gx+7*cw:.0f},{gy+r*ch:.0f}")
    for c in range(8):
        rects.append(f"stroke '#999999' stroke-width 1 line {gx+c*cw:.0f},{gy:.0f} {gx+c*cw:.0f},{gy+rows*ch:.0f}")
    pad = R.uniform(0.08, 0.15) * cw
    for d in range(1, days+1):
        r, c = cell(d)
        draws.append((font, size, '#202020', gx + c*cw + pad, gy + r*ch + pad + dh, str(d)))
    bg = 'white'
elif kind in ('mono', 'weeks', 'photo'):
    if kind == 'photo':
        W, H = R.choice([(1920,1080),(2560,1440),(1366,768),(1600,900)])
        dh = R.uniform(24, 30) * H / 1080; step = R.uniform(1.4, 1.65) * dh
    else:
        W, H = R.choice(screens)
        dh = R.uniform(60, 95) * min(W, H) / 1080 * (0.5 if min(W,H) < 1000 else 1)
        step = dh * R.uniform(1.2, 1.7)
    fonts = ['DejaVu-Sans-Mono','Liberation-Mono','NimbusMonoPS-Regular','DejaVu-Sans-Mono-Bold','Liberation-Mono-Bold','NimbusMonoPS-Bold']
    font = R.choice(fonts[3:] if kind == 'photo' else fonts)
    size = dh / 0.73
    adv = 0.6 * size
    while 25 * adv > 0.95 * W or 7.5 * step > 0.92 * H:
        dh *= 0.9; step *= 0.9; size = dh / 0.73; adv = 0.6 * size
    x0 = R.uniform(0.03, max(0.03, 0.97 - 25 * adv / W)) * W; y0 = 2.5 * step
    colour = 'white' if kind == 'photo' else R.choice(['#101010', '#303030', '#000000'])
    if kind == 'photo':
        bg = R.choice(['/usr/share/backgrounds/xfce/xfce-blue.jpg','/usr/share/backgrounds/xfce/xfce-teal.jpg','/usr/share/backgrounds/sway/Sway_Wallpaper_Blue_1920x1080.png'])
    else:
        bg = 'white'
    draws.append((font, size*0.8, colour, x0, y0 - step*1.2, datetime.date(year, month, 1).strftime('%B %Y'), False))
    draws.append((font, size, colour, x0, y0, 'Mo Tu We Th Fr Sa Su' + (' Wk' if kind == 'weeks' else ''), False))
    for d in range(1, days+1):
        r, c = cell(d); t = str(d)
        draws.append((font, size, colour, x0 + (3*c + 2 - len(t)) * adv, y0 + (r+1)*step, t))
    if kind == 'weeks':
        for r in range((first + days + 6) // 7):
            d = max(1, r*7 - first + 1)
            wk = str(datetime.date(year, month, d).isocalendar()[1])
            draws.append((font, size, colour, x0 + (3*7 + 2 - len(wk)) * adv, y0 + (r+1)*step, wk, False))
    dh = dh
meta = dict(kind=kind, seed=seed, year=year, month=month, width=W, height=H, font=font)
def mvg(truth):
    lines = []
    if not truth:
        lines += ['push graphic-context'] + rects + ['pop graphic-context']
    for dr in draws:
        f, s, col, x, y, t = dr[:6]
        isday = len(dr) == 6
        if truth and not isday: continue
        if truth:
            d = int(t); col = f'rgb({d*8},{255 - d*8},{(d*37)%256})'
        lines.append(f"push graphic-context font '{f}' font-size {s:.2f} fill '{col}' stroke none text {x:.1f},{y:.1f} '{t}' pop graphic-context")
    return '\n'.join(lines)
open(f'{out}/page.mvg','w').write(mvg(False)); open(f'{out}/truth.mvg','w').write(mvg(True))
base = ['-size', f'{W}x{H}', 'xc:white'] if bg == 'white' else [bg, '-resize', f'{W}x{H}^', '-gravity', 'center', '-extent', f'{W}x{H}', '+gravity', '-brightness-contrast', '-35x-10']
subprocess.run(['convert'] + base + ['-draw', mvg(False), '-quality', str(R.choice([80, 88, 92])), f'{out}/page.jpg'], check=True)
subprocess.run(['convert', '-size', f'{W}x{H}', 'xc:black', '+antialias', '-draw', mvg(True), '-depth', '8', f'{out}/truth.ppm'], check=True)
# truth boxes by colour
data = open(f'{out}/truth.ppm','rb').read()
hdr_end = 0
parts = data.split(b'\n', 3); raw = parts[3]
boxes = {}
colours = {bytes((d*8, 255-d*8, (d*37)%256)): d for d in range(1, 32)}
rowlen = W*3
for y in range(H):
    row = raw[y*rowlen:(y+1)*rowlen]
    if not row.strip(b'\0'): continue
    x = 0
    for m in range(W):
        px = row[3*m:3*m+3]
        if px == b'\0\0\0': continue
        d = colours.get(px)
        if d is None: continue
        b = boxes.get(d)
        boxes[d] = [min(b[0], m), min(b[1], y), max(b[2], m+1), max(b[3], y+1)] if b else [m, y, m+1, y+1]
meta['truth'] = [boxes.get(d) for d in range(1, days+1)]
json.dump(meta, open(f'{out}/meta.json','w'))
os.remove(f'{out}/truth.ppm')
