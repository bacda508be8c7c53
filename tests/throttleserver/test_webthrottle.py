#!/usr/bin/python3
"""The web throttle in headless Chromium against the main window (webrig).

    test_webthrottle.py WEBRIG              drives loco 3 and checks frames and panel,
                                            then what a foreign page can do (nothing),
                                            then a roster loco by its name and labels
    test_webthrottle.py WEBRIG --shot FILE  saves the page at phone size (360 x 740)

Every wait is a bounded poll; nothing sleeps a fixed time.
"""

import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

try:
    from selenium import webdriver
    from selenium.common.exceptions import TimeoutException
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError:
    sys.exit("test_webthrottle: Selenium for Python is missing (Debian: python3-selenium)")

TIMEOUT = 10        # seconds for anything the page or the program does
PROMPT = 1.0        # a change made elsewhere reaches the page within this
PHONE = (360, 740)

# Frames as the rig prints them: command P1 P2 P3.
SPEED_50 = '23 128 3 0'         # V63 of 126 is 128 of 255
LIGHT_ON = '27 0 3 0'
F2_ON = '27 2 3 0'
F2_OFF = '28 2 3 0'
STOP = '24 0 3 0'
STOP_ALL = '24 0 255 255'
POWER_OFF = '1 0 10 0'
NUMBER_REFUSED = 'Bitte eine Lok-Nummer von 1 bis 10239 eingeben.'
# The rig's roster: BR 218 with labels for F0 to F3, F2 latching (against the
# Tastfunktionen list), F3 held only while pressed.
ROSTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'data', 'webroster')
F2_ON_218 = '27 2 218 0'
F2_OFF_218 = '28 2 218 0'
F3_ON_218 = '27 3 218 0'
F3_OFF_218 = '28 3 218 0'
BANNER = 'Verbindung zu Velantor unterbrochen – neuer Versuch …'
# A foreign site; the browser finds every name in it at 127.0.0.1, as a
# rebinding site's names would point at the layout PC.
FOREIGN = 'angreifer.example'


class Rig:
    """The main window with the station in memory, spoken to over a pipe."""

    def __init__(self, program):
        self.process = subprocess.Popen([program, '--roster', ROSTER], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, encoding='utf-8')
        line = self.process.stdout.readline().split()
        if len(line) != 2 or line[0] != 'URL':
            raise SystemExit('test_webthrottle: the rig did not start: %r' % line)
        self.url = line[1]
        self.seen = []

    def ask(self, command):
        self.process.stdin.write(command + '\n')
        self.process.stdin.flush()
        lines = []
        while True:
            line = self.process.stdout.readline()
            if not line:
                raise SystemExit('test_webthrottle: the rig ended during %r' % command)
            line = line.rstrip('\n')
            if line == 'OK':
                return lines
            if line.startswith('ERR'):
                raise SystemExit('test_webthrottle: the rig refused %r' % command)
            lines.append(line)

    def frames(self):
        """The loco frames sent since the last call (the status queries left out)."""
        return [f for f in self.ask('frames') if not f.startswith('2 ')]

    def panel(self, n=0):
        return dict(pair.split('=', 1) for pair in self.ask('panel %d' % n)[0].split())

    def close(self):
        if self.process.poll() is None:
            self.process.stdin.write('quit\n')
            self.process.stdin.flush()
            try:
                self.process.wait(timeout=TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()


def browser(profile):
    for program in ('/usr/bin/chromium', '/usr/bin/chromedriver'):
        if not os.access(program, os.X_OK):
            raise SystemExit('test_webthrottle: %s is missing (Debian: chromium, chromium-driver)'
                             % program)
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    options.add_argument('--headless=new')
    options.add_argument('--user-data-dir=' + profile)
    options.add_argument('--window-size=%d,%d' % PHONE)
    options.add_argument('--disable-gpu')
    options.add_argument('--disable-dev-shm-usage')
    for flag in ('--no-first-run', '--disable-extensions', '--disable-sync',
                 '--disable-background-networking', '--disable-component-update'):
        options.add_argument(flag)
    options.add_argument('--host-resolver-rules=MAP %s 127.0.0.1, MAP *.%s 127.0.0.1'
                         % (FOREIGN, FOREIGN))
    if os.geteuid() == 0:
        options.add_argument('--no-sandbox')   # Chromium refuses root otherwise
    driver = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                           {'width': PHONE[0], 'height': PHONE[1], 'deviceScaleFactor': 1,
                            'mobile': True})
    return driver


class Page:
    def __init__(self, driver, rig):
        self.driver = driver
        self.rig = rig

    def by_id(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def button(self, text):
        return self.driver.find_element(By.XPATH, '//button[normalize-space()="%s"]' % text)

    def until(self, what, condition, timeout=TIMEOUT):
        try:
            return WebDriverWait(self.driver, timeout, poll_frequency=0.02).until(
                lambda _: condition())
        except TimeoutException:
            raise AssertionError('waited %.1f s in vain for %s' % (timeout, what)) from None

    def expect_frames(self, expected):
        """Polls the rig until the frames expected were sent, then compares them all."""
        got = []

        def arrived():
            got.extend(self.rig.frames())
            return len(got) >= len(expected)
        self.until('frames %s' % expected, arrived)
        got.extend(self.rig.frames())
        assert got == expected, 'frames %s, expected %s' % (got, expected)

    def pressed(self, element):
        return element.get_attribute('aria-pressed')

    def choose_loco_3(self):
        if self.driver.current_url != self.rig.url:
            self.driver.get(self.rig.url)
        self.until('the roster', lambda: 'Lok 3' in [o.text for o in
                                                     Select(self.by_id('roster')).options])
        Select(self.by_id('roster')).select_by_visible_text('Lok 3')
        self.until('loco 3 taken', lambda: self.by_id('speed').is_enabled())
        assert self.by_id('locoTitle').text == 'Lok 3'

    def set_speed(self, value):
        # What a drag ends with: the value, an input and a change event.
        self.driver.execute_script(
            'const s = arguments[0]; s.value = arguments[1];'
            's.dispatchEvent(new Event("input", {bubbles: true}));'
            's.dispatchEvent(new Event("change", {bubbles: true}));',
            self.by_id('speed'), str(value))


def drive(page, rig):
    page.driver.get(rig.url)
    page.until('the page connected', lambda: page.button('Übernehmen').is_enabled())
    page.by_id('number').send_keys('10240')
    page.button('Übernehmen').click()
    assert page.by_id('locoMessage').text == NUMBER_REFUSED
    assert page.by_id('locoTitle').text == 'Keine Lok gewählt'
    page.by_id('number').clear()

    page.choose_loco_3()
    assert page.by_id('number').get_attribute('value') == '3'
    page.expect_frames([])

    page.set_speed(63)
    page.expect_frames([SPEED_50])
    page.until('50 % shown', lambda: page.by_id('speedPercent').text == '50 %')
    assert rig.panel()['speed'] == '128'

    light = page.button('Licht')
    light.click()
    page.expect_frames([LIGHT_ON])
    page.until('Licht pressed', lambda: page.pressed(light) == 'true')
    assert rig.panel()['light'] == '1'

    # F2, the horn, sounds while held.
    horn = page.button('F2')
    ActionChains(page.driver).click_and_hold(horn).perform()
    page.expect_frames([F2_ON])
    page.until('F2 on while held', lambda: page.pressed(horn) == 'true')
    assert rig.panel()['functions'] == '2'
    ActionChains(page.driver).release(horn).perform()
    page.expect_frames([F2_OFF])
    page.until('F2 off when let go', lambda: page.pressed(horn) == 'false')
    assert rig.panel()['functions'] == ''

    page.button('STOP').click()
    page.expect_frames([STOP])
    page.until('0 % after STOP', lambda: page.by_id('speedPercent').text == '0 %')
    assert rig.panel()['speed'] == '0'

    # The window's panel drives: the page follows promptly.
    rig.ask('panel-speed 0 255')
    page.until('the panel\'s speed in the page',
               lambda: page.by_id('speedPercent').text == '100 %', PROMPT)
    assert page.by_id('speed').get_attribute('value') == '126'
    rig.frames()

    page.button('STOP (alle Loks)').click()
    page.expect_frames([STOP_ALL])
    page.until('0 % after STOP (alle Loks)',
               lambda: page.by_id('speedPercent').text == '0 %', PROMPT)

    power = page.by_id('power')
    assert page.pressed(power) == 'true'
    power.click()
    page.expect_frames([POWER_OFF])
    page.until('the track power off', lambda: page.pressed(power) == 'false')
    assert power.text == 'Gleisspannung aus'

    # A lost connection: the banner, then the page takes its loco again.
    banner = page.by_id('banner')
    assert not banner.is_displayed()
    rig.ask('web-stop')
    page.until('the banner', banner.is_displayed)
    assert banner.text == BANNER
    assert not page.by_id('speed').is_enabled()
    rig.ask('web-start')
    page.until('the banner gone', lambda: not banner.is_displayed())
    page.until('loco 3 taken again', lambda: page.by_id('speed').is_enabled())
    assert page.by_id('locoTitle').text == 'Lok 3'
    assert page.pressed(light) == 'true'


class ForeignSite:
    """A page of some other site, served on 127.0.0.1 under the foreign name."""

    PAGE = b'<!DOCTYPE html><html><head><title>Angebote</title></head><body>Angebote</body></html>'

    def __init__(self):
        page = self.PAGE

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header('Content-Type', 'text/html')
                self.send_header('Content-Length', str(len(page)))
                self.end_headers()
                self.wfile.write(page)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
        self.url = 'http://%s:%d/' % (FOREIGN, self.server.server_address[1])
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def strangers(page, rig):
    """A foreign page drives nothing: not through the apps' port, not under a
    name of its own that points here, not with a WebSocket of its own."""
    web_port = int(rig.url.rsplit(':', 1)[1].strip('/'))
    app_port = int(rig.ask('app-port')[0])
    rig.frames()
    site = ForeignSite()
    try:
        page.driver.get(site.url)
        assert page.driver.title == 'Angebote'
        # The throttle page left behind may keep its socket a while.
        before = rig.ask('clients')
        # A POST the browser sends without asking anyone: its body would be
        # throttle lines. The port closes the connection; nothing moves.
        outcome = page.driver.execute_async_script(
            'const done = arguments[arguments.length - 1];'
            'fetch(arguments[0], {method: "POST", mode: "no-cors", body: arguments[1]})'
            '.then(() => done("answered"), () => done("closed"));',
            'http://127.0.0.1:%d/' % app_port, 'NAngreifer\nM0+S3<;>S3\nM0A*<;>V126\n')
        assert outcome == 'closed', outcome
        # The page's own WebSocket, and one under a rebinding name.
        for target in ('ws://127.0.0.1:%d/ws' % web_port,
                       'ws://%s.%s:%d/ws' % (socket.gethostname(), FOREIGN, web_port)):
            outcome = page.driver.execute_async_script(
                'const done = arguments[arguments.length - 1];'
                'const s = new WebSocket(arguments[0]);'
                's.onopen = () => { s.close(); done("opened"); };'
                's.onclose = () => done("refused");', target)
            assert outcome == 'refused', '%s: %s' % (target, outcome)
        assert rig.ask('clients') == before, 'a foreign page connected'
        page.expect_frames([])

        # The throttle page under a rebinding name is not served at all.
        page.driver.get('http://%s.%s:%d/' % (socket.gethostname(), FOREIGN, web_port))
        assert not page.driver.find_elements(By.ID, 'speed'), 'the page under a foreign name'
    finally:
        site.close()

    # Under a name of this machine it is, and it connects.
    page.driver.get('http://localhost:%d/' % web_port)
    page.until('the page connected under localhost', lambda: page.button('Übernehmen').is_enabled())


def caption(button):
    return ' '.join(button.text.split())


def drive_roster(page, rig):
    """A roster loco chosen by its name: its labels on the keys, the F number
    small, the roster's lockable flags before the Tastfunktionen list. The page
    goes on from strangers(), loaded anew under localhost."""
    rig.frames()
    roster = Select(page.by_id('roster'))
    page.until('the roster with names', lambda: [o.text for o in roster.options][1:]
               == ['BR 218 (218)', 'Lok 3', 'Lok 300'])
    roster.select_by_visible_text('BR 218 (218)')
    page.until('BR 218 taken', lambda: page.by_id('speed').is_enabled())
    assert page.by_id('locoTitle').text == 'BR 218 (218)'
    assert page.by_id('number').get_attribute('value') == '218'
    keys = page.driver.find_elements(By.CSS_SELECTOR, '#functions button')
    page.until('the labels', lambda: caption(keys[3]) == 'F3 Pfeife')
    assert [caption(k) for k in keys[:6]] == ['F0 Spitzenlicht', 'F1 Sound', 'F2 Glocke',
                                              'F3 Pfeife', 'F4', 'F5'], \
        [caption(k) for k in keys[:6]]
    sizes = page.driver.execute_script(
        'const b = arguments[0]; return [b.querySelector(".fnum"), b.querySelector(".label")]'
        '.map((e) => parseFloat(getComputedStyle(e).fontSize));', keys[3])
    assert sizes[0] < sizes[1], sizes
    page.expect_frames([])

    # F3 is held only while pressed.
    ActionChains(page.driver).click_and_hold(keys[3]).perform()
    page.expect_frames([F3_ON_218])
    page.until('F3 on while held', lambda: page.pressed(keys[3]) == 'true')
    ActionChains(page.driver).release(keys[3]).perform()
    page.expect_frames([F3_OFF_218])
    page.until('F3 off when let go', lambda: page.pressed(keys[3]) == 'false')

    # F2, held in the Tastfunktionen list, latches by the roster's flag.
    keys[2].click()
    page.expect_frames([F2_ON_218])
    page.until('F2 on after the click', lambda: page.pressed(keys[2]) == 'true')
    keys[2].click()
    page.expect_frames([F2_OFF_218])
    page.until('F2 off after the second click', lambda: page.pressed(keys[2]) == 'false')

    # Another loco: the plain captions again.
    roster.select_by_visible_text('Lok 3')
    page.until('loco 3 taken', lambda: page.by_id('locoTitle').text == 'Lok 3')
    page.until('no labels', lambda: caption(keys[3]) == 'F3')
    assert caption(keys[0]) == 'Licht'


def shoot(page, rig, path):
    page.choose_loco_3()
    page.set_speed(50)
    page.button('Licht').click()
    page.until('the state shown', lambda: page.pressed(page.button('Licht')) == 'true'
               and page.by_id('speedPercent').text == '40 %')
    page.driver.execute_script('document.activeElement.blur()')
    if not page.driver.save_screenshot(path):
        raise SystemExit('test_webthrottle: cannot write ' + path)
    print(path)


def main():
    if len(sys.argv) not in (2, 4) or (len(sys.argv) == 4 and sys.argv[2] != '--shot'):
        sys.exit(__doc__)
    profile = tempfile.mkdtemp(prefix='velantor-chromium-')
    rig = driver = None
    try:
        rig = Rig(sys.argv[1])
        driver = browser(profile)
        page = Page(driver, rig)
        if len(sys.argv) == 4:
            shoot(page, rig, sys.argv[3])
        else:
            drive(page, rig)
            strangers(page, rig)
            drive_roster(page, rig)
    finally:
        if driver:
            driver.quit()
        if rig:
            rig.close()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == '__main__':
    main()
