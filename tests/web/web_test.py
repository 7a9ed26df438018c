"""The web view after 20 simulated devices, one named with markup: the page in a real browser,
its headers, and /metrics through promtool. Catches rows or counters the page does not show,
device text run as markup, inline script the policy must allow, exposition Prometheus refuses,
a renamed metric (dashboards and alerts use the names), totals that do not follow the service.

usage: web_test.py BIN_DIR [--screenshot PNG]
"""
import re
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

from web_harness import BASE, HOSTILE, Site, get, wait_for


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--window-size=1100,760", "--user-data-dir=" + profile, "--lang=en-US"):
        options.add_argument(arg)
    # quit() stops the driver service too, also when the session fails to start.
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


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
    status, headers, body = get("/upgrades.csv")
    assert status == 200 and body.count(b",success,") == 17 and body.count(b",failure,") == 2


def check_metrics():
    status, headers, body = get("/metrics")
    assert status == 200 and headers["Content-Type"].startswith("text/plain; version=0.0.4")
    check = subprocess.run(["promtool", "check", "metrics"], input=body, capture_output=True,
                           timeout=30)
    assert check.returncode == 0, check.stdout + check.stderr
    text = body.decode()

    def value(series):
        m = re.search("^" + re.escape(series) + r" (\S+)$", text, re.M)
        assert m, "no series " + series
        return float(m.group(1))

    assert value('orvane_upgrades_total{result="success"}') == 17
    assert value('orvane_upgrades_total{result="failure"}') == 2
    assert value('orvane_upgrades_total{result="incomplete"}') == 0
    assert value("orvane_tftp_transfers_active") == 0
    assert value('orvane_tftp_transfers_total{result="success"}') == 19
    assert value("orvane_tftp_bytes_sent_total") >= 19 * 64 * 1024
    assert value("orvane_device_requests_total") >= 20
    assert value("orvane_device_requests_dropped_total") == 0
    assert value("orvane_device_rows") == 20
    assert value("orvane_service_running") == 1
    assert re.search(r'^orvane_build_info\{version="[0-9.]+"\} 1$', text, re.M), text


def main():
    shot = sys.argv[3] if sys.argv[2:3] == ["--screenshot"] else None
    with Site(sys.argv[1]) as site:
        site.road()  # waits for /api/devices to give 20 rows, 17 successes and 2 failures
        check_headers()
        check_metrics()
        with tempfile.TemporaryDirectory(prefix="orvane-chromium-",
                                         ignore_cleanup_errors=True) as profile:
            driver = browser(profile)
            try:
                check_page(driver, shot)
            finally:
                driver.quit()
    print("web test passed")

if __name__ == "__main__":
    main()
