"""tavro-report's page in a real browser: Debian's chromium driven through
chromium-driver and python3-selenium (scripts/quickstart test installs
them). The page is made from the records of tests/data/results."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DATA = os.path.join(ROOT, "tests", "data", "results")
CHROMIUM = "/usr/bin/chromium"
DRIVER = "/usr/bin/chromedriver"

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    webdriver = None

MISSING = ("python3-selenium" if webdriver is None else
           "chromium" if not os.path.exists(CHROMIUM) else
           "chromium-driver" if not os.path.exists(DRIVER) else None)


def browser(folder, scripts):
    """A headless chromium that reaches nothing outside the machine, with
    a new empty profile."""
    options = Options()
    options.binary_location = CHROMIUM
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1280,1000",
                     f"--user-data-dir={folder}"):
        options.add_argument(argument)
    if not scripts:
        options.add_experimental_option(
            "prefs", {"profile.managed_default_content_settings.javascript": 2})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(DRIVER), options=options)


@unittest.skipIf(MISSING, f"{MISSING} is missing (bash scripts/quickstart test installs it)")
class BrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp()
        cls.page = os.path.join(cls.folder, "report.html")
        records = sorted(glob.glob(os.path.join(DATA, "*.json")))
        subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "tavro-report"), *records,
                        "-o", cls.page], check=True, timeout=300)
        cls.records = len(records)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def open(self, scripts):
        driver = browser(tempfile.mkdtemp(dir=self.folder), scripts)
        self.addCleanup(driver.quit)
        driver.get("file://" + self.page)
        return driver

    def column(self, table, k):
        return [row.find_elements(By.TAG_NAME, "td")[k].text
                for row in table.find_elements(By.CSS_SELECTOR, "tbody tr")
                if row.is_displayed()]

    def test_sort_filter_and_a_machine_section(self):
        driver = self.open(scripts=True)
        first = driver.find_elements(By.CSS_SELECTOR, "table.ranking")[0]
        scores = [float(s) for s in self.column(first, 6)]
        self.assertEqual(scores, sorted(scores, reverse=True))  # in score order as written
        header = first.find_elements(By.CSS_SELECTOR, "thead th")[6]
        header.find_element(By.TAG_NAME, "button").click()
        self.assertEqual(header.get_attribute("aria-sort"), "ascending")
        self.assertEqual([float(s) for s in self.column(first, 6)], sorted(scores))
        header.find_element(By.TAG_NAME, "button").click()
        self.assertEqual([float(s) for s in self.column(first, 6)], sorted(scores, reverse=True))
        # The keyboard sorts as well: the machine's header, by name.
        machine = first.find_elements(By.CSS_SELECTOR, "thead th")[1]
        machine.find_element(By.TAG_NAME, "button").send_keys(Keys.ENTER)
        names = self.column(first, 1)
        self.assertEqual(names, sorted(names, key=str.lower))
        self.assertIsNone(header.get_attribute("aria-sort"))

        box = driver.find_element(By.CSS_SELECTOR, "#filter input")
        self.assertTrue(box.is_displayed())
        box.send_keys("turin")
        for table in driver.find_elements(By.CSS_SELECTOR, "table.ranking"):
            shown = self.column(table, 1)
            self.assertEqual(shown, ["Oxide Virtual Turin-like Processor"])
        box.clear()
        box.send_keys(" ")  # an empty filter shows every row again
        self.assertEqual(len(self.column(first, 1)), len(scores))

        link = first.find_elements(By.CSS_SELECTOR, "tbody tr td a")[0]
        target = link.get_attribute("href").split("#", 1)[1]
        link.click()
        self.assertTrue(driver.current_url.endswith("#" + target))
        section = driver.find_element(By.ID, target)
        self.assertLess(abs(driver.execute_script(
            "return arguments[0].getBoundingClientRect().top", section)), 5)
        raw = section.find_element(By.TAG_NAME, "details")
        raw.find_element(By.TAG_NAME, "summary").click()
        self.assertIn("!!HARNESS!!", raw.find_element(By.TAG_NAME, "pre").text)
        errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [])

    def test_every_table_without_scripts(self):
        driver = self.open(scripts=False)
        tables = driver.find_elements(By.TAG_NAME, "table")
        with open(self.page, encoding="utf-8") as stream:
            self.assertEqual(len(tables), stream.read().count("<table"))
        self.assertTrue(all(t.is_displayed() for t in tables))
        self.assertEqual(len(driver.find_elements(By.CSS_SELECTOR, "table.ranking")), 2)
        first = tables[0]
        scores = [float(s) for s in self.column(first, 6)]
        self.assertEqual(scores, sorted(scores, reverse=True))
        self.assertGreaterEqual(len(scores), 3)
        self.assertFalse(driver.find_element(By.ID, "filter").is_displayed())
        self.assertGreaterEqual(len([s for s in driver.find_elements(By.TAG_NAME, "svg")
                                     if s.is_displayed()]), 3)


if __name__ == "__main__":
    unittest.main()
