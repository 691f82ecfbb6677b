# Guards against: a phone page that sends the wrong requests, shows the wrong times, lets polls
# fight the user's finger, renders markup from the library, or breaks when the player goes away.
"""The remote page in headless Chromium, served by the real server (PageServerMain)."""

import json, os, queue, subprocess, tempfile, threading, time, unittest

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

WAIT = 10  # seconds, the most any step waits
EMPTY = {"title": "", "artist": "", "playing": False, "pos": 0, "dur": 0, "vol": 50}
FLAGS = ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
         "--no-first-run", "--disable-background-networking")


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        folder = tempfile.TemporaryDirectory()
        cls.addClassCleanup(folder.cleanup)
        cls.server = subprocess.Popen([os.environ["QL_PAGE_SERVER"]], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, text=True)
        cls.addClassCleanup(cls.server.kill)
        cls.calls = queue.Queue()  # (time, line) as the server prints them
        threading.Thread(target=lambda: [cls.calls.put((time.monotonic(), line))
                                         for line in cls.server.stdout], daemon=True).start()
        port = int(cls.calls.get(timeout=WAIT)[1].split()[1])
        cls.tell(json.dumps(EMPTY))
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in FLAGS + ("--user-data-dir=" + os.path.join(folder.name, "profile"),):
            options.add_argument(flag)
        service = Service(executable_path="/usr/bin/chromedriver")
        cls.addClassCleanup(service.stop)
        cls.driver = webdriver.Chrome(service=service, options=options)
        cls.addClassCleanup(cls.driver.quit)
        cls.driver.set_page_load_timeout(WAIT)
        cls.driver.get("http://127.0.0.1:%d/?t=abc234" % port)

    @classmethod
    def tell(cls, line):
        cls.server.stdin.write(line + "\n")
        cls.server.stdin.flush()

    def drain(self):
        while not self.calls.empty():
            self.calls.get()

    def next_calls(self, kind, count):
        """The next `count` callback runs of `kind` ("s", "c" or "l"): (time, call) pairs."""
        found, deadline = [], time.monotonic() + WAIT
        while len(found) < count:
            at, line = self.calls.get(timeout=max(0.01, deadline - time.monotonic()))
            call = json.loads(line)
            found += [(at, call)] if kind in call else []
        return found

    def text(self, *ids):
        # One script reads every element at one moment: the page may re-render between
        # two separate look-ups, which would leave a found element stale.
        return self.driver.execute_script(
            "return arguments[0].map(function(i){return document.getElementById(i).innerText;});",
            list(ids))

    def first_item(self):
        """The first search result's shown text and its count of <b> elements, read at once."""
        return self.driver.execute_script(
            "var li=document.querySelector('#ls li');"
            "return li ? [li.innerText, li.getElementsByTagName('b').length] : null;")

    def until(self, check):
        # A check that met a re-render mid-read is asked again, not counted as a failure.
        return WebDriverWait(self.driver, WAIT, ignored_exceptions=(StaleElementReferenceException,)
                             ).until(lambda _: check())

    def test_1_renders_state_and_polls(self):
        self.until(lambda: self.text("ti", "tm") == ["-", "0:00 / 0:00"])
        self.assertEqual(self.driver.find_element(By.ID, "sk").get_attribute("max"), "1")
        self.tell(json.dumps(dict(EMPTY, title="T", pos=75, dur=3725, playing=True)))
        self.until(lambda: self.text("tm", "pp") == ["1:15 / 62:05", "⏸"])
        self.drain()
        times = [at for at, _ in self.next_calls("s", 3)]
        self.assertAlmostEqual((times[2] - times[0]) / 2, 1.5, delta=0.4)

    def test_2_search(self):
        field = self.driver.find_element(By.ID, "qs")
        field.send_keys("abc")
        self.assertEqual([c["l"] for _, c in self.next_calls("l", 3)], ["a", "ab", "abc"])
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(Keys.BACKSPACE)
        self.assertEqual(self.next_calls("l", 1)[0][1]["l"], "")
        shown, bold = self.until(self.first_item)
        self.assertEqual((shown[:8], bold), ("<b>x</b>", 0))

    def test_3_buttons(self):
        buttons = self.driver.find_elements(By.TAG_NAME, "button")
        self.assertEqual([b.text for b in buttons], ["⏮", "⏸", "⏭", "📻"])
        for button in buttons:
            button.click()
        self.assertEqual([c["c"] for _, c in self.next_calls("c", 4)],
                         ["prev", "toggle", "next", "radio"])

    def test_4_seek_held(self):
        bar = self.driver.find_element(By.ID, "sk")
        ActionChains(self.driver).click_and_hold(bar).move_by_offset(-40, 0).perform()
        held = bar.get_attribute("value")
        self.tell(json.dumps(dict(EMPTY, title="T", pos=3000, dur=3725)))
        self.drain()
        self.next_calls("s", 2)
        self.assertEqual(bar.get_attribute("value"), held)
        self.drain()
        ActionChains(self.driver).release().perform()
        seek = self.next_calls("c", 1)[0][1]
        self.assertEqual(seek["c"], "seek")
        self.assertRegex(seek["q"]["v"], r"^\d+$")
        time.sleep(0.5)
        self.assertFalse(any('"c"' in line for _, line in list(self.calls.queue)))

    def test_5_server_stopped(self):
        self.until(lambda: self.text("ti") == ["T"])
        shown = self.text("ti", "tm", "pp")
        self.tell("stop")
        time.sleep(3.5)  # two polls into the void
        self.assertEqual(self.text("ti", "tm", "pp"), shown)
        self.assertNotIn("error", self.driver.find_element(By.TAG_NAME, "body").text.lower())


if __name__ == "__main__":
    unittest.main()
