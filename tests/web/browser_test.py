"""The web view in a real browser: 20 simulated devices appear as rows with the right
counters, and a device that names itself with markup is shown as text, nothing of it runs.

Catches: rows or counters the page does not show or update, device text inserted as markup
(an <img> element, a script that runs), inline script the policy would have to allow, and
assets fetched from anywhere but Orvane.

usage: browser_test.py BIN_DIR [--screenshot PNG]
"""
import json
import os
import shutil
import sys
import tempfile

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, UnexpectedAlertPresentException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

from web_harness import BASE, HOSTILE, Site, get, wait_for


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--window-size=1100,760", "--user-data-dir=" + profile, "--lang=en-US"):
        options.add_argument(arg)
    service = Service(executable_path="/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=options), service


def check_page(driver, shot):
    driver.set_page_load_timeout(20)
    driver.get(BASE + "/")

    def shown():
        rows = driver.find_elements(By.CSS_SELECTOR, "#rows tr")
        return (len(rows) == 20 and driver.find_element(By.ID, "success").text == "17"
                and driver.find_element(By.ID, "fail").text == "2")

    wait_for(shown, 20, "20 rows, 17 successes and 2 failures on the page")
    models = [td.text for td in driver.find_elements(By.CSS_SELECTOR, "#rows td.c-model")]
    assert HOSTILE in models, models
    assert driver.find_elements(By.TAG_NAME, "img") == [], "device text became markup"
    try:
        driver.switch_to.alert
        raise AssertionError("the device's script ran")
    except NoAlertPresentException:
        pass
    classes = [tr.get_attribute("class") for tr in driver.find_elements(By.CSS_SELECTOR, "#rows tr")]
    assert classes.count("success") == 17 and classes.count("failure") == 2, classes
    if shot:
        driver.save_screenshot(shot)
    # The filter keeps the matching rows only.
    box = driver.find_element(By.ID, "filter")
    box.send_keys("onerror")
    visible = [tr for tr in driver.find_elements(By.CSS_SELECTOR, "#rows tr") if tr.is_displayed()]
    assert len(visible) == 1, len(visible)
    box.clear()


def check_headers():
    status, headers, body = get("/")
    assert status == 200
    policy = headers["Content-Security-Policy"]
    assert "script-src 'self'" in policy and "unsafe-inline" not in policy, policy
    assert b'<script src="/app.js" defer></script>' in body and b"<script>" not in body
    status, _, body = get("/api/devices")
    data = json.loads(body)
    assert status == 200 and len(data["rows"]) == 20, data
    assert (data["successes"], data["failures"]) == (17, 2)
    status, headers, body = get("/upgrades.csv")
    assert status == 200 and body.count(b",success,") == 17 and body.count(b",failure,") == 2


def main():
    bin_dir = sys.argv[1]
    shot = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--screenshot" else None
    profile = tempfile.mkdtemp(prefix="orvane-chromium-")
    driver = service = None
    with Site(bin_dir) as site:
        try:
            site.road()
            check_headers()
            driver, service = browser(profile)
            check_page(driver, shot)
        except UnexpectedAlertPresentException:
            raise AssertionError("the device's script ran")
        finally:
            if driver is not None:
                driver.quit()
            if service is not None:
                service.stop()
            shutil.rmtree(profile, ignore_errors=True)
    print("browser test passed")


if __name__ == "__main__":
    main()
