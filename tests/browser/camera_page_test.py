#!/usr/bin/python3
"""The camera page in a real browser (headless Chromium through Selenium), against a real `vupdate serve`.

One browser session for the whole file: a good update dropped on the card pane, a file with a wrong checksum,
files the card refuses, the camera form, a power cut during the installation; and no error in the console. Exits 77 (CTest's skip) only when Chromium cannot be started at all.

    camera_page_test.py --vupdate build/default/vupdate --samples samples
    camera_page_test.py --vupdate build/default/vupdate --samples samples --screenshot docs/serve.png
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
# A point of the LCD's picture that only the panel's background covers.
BACKGROUND = (40, 120)


def classify(rgb):
    r, g, b = rgb[:3]
    if r > 20 and b > 20 and g < 10:
        return "progress"  # purple
    if g > 20 and r < 10 and b < 10:
        return "green"  # splash or success
    if r > 30 and g < 12 and b < 12:
        return "red"  # warning or error
    return "other"


class Page:
    def __init__(self, driver, address):
        self.driver = driver
        driver.get(address)
        self.wait(lambda: self.driver.execute_script("return document.body.dataset.shown"), "a first frame")

    def find(self, selector):
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.CSS_SELECTOR, selector)

    def text(self, selector):
        return self.find(selector).text

    def click(self, selector):
        self.find(selector).click()

    def wait(self, condition, what, timeout=30):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            value = condition()
            if value:
                return value
            time.sleep(0.05)
        raise AssertionError(f"timed out waiting for {what}; status: {self.text('#status')!r}, "
                             f"flash: {self.text('#flash-state')!r}, message: {self.text('#message')!r}, "
                             f"card: {self.card_files()}, log: {self.text('#log')!r}")

    def pixel(self, x, y):
        return self.driver.execute_script(
            "return Array.from(document.getElementById('lcd').getContext('2d').getImageData(arguments[0], arguments[1], 1, 1).data)",
            x, y)

    def panel_colour(self):
        return classify(self.pixel(*BACKGROUND))

    def wait_colour(self, colour, timeout=30):
        self.wait(lambda: self.panel_colour() == colour, f"a {colour} panel", timeout)

    def wait_status(self, fragment, timeout=30):
        self.wait(lambda: fragment in self.text("#status"), f"status {fragment!r}", timeout)

    def card_files(self):
        return [row.split(" ")[0] for row in self.text("#card-files tbody").splitlines() if row]

    def upload(self, *paths):
        self.find("#card-upload").send_keys("\n".join(paths))
        names = [os.path.basename(p) for p in paths]
        self.wait(lambda: all(n in self.card_files() for n in names), f"{names} on the card")

    def drop(self, *paths):
        """Drops files on the card pane as a file manager would: a drop event carrying them."""
        from selenium.webdriver.common.by import By
        holder = self.driver.execute_script(
            "const input = document.createElement('input'); input.type = 'file'; input.multiple = true;"
            "document.body.append(input); return input;")
        holder.send_keys("\n".join(paths))
        self.driver.execute_script(
            "const [input, zone] = arguments; const data = new DataTransfer();"
            "for (const file of input.files) data.items.add(file);"
            "zone.dispatchEvent(new DragEvent('dragover', {dataTransfer: data, bubbles: true, cancelable: true}));"
            "zone.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));"
            "input.remove();", holder, self.find("#drop-zone"))

    def soft_keys(self):
        return [self.text(k) for k in ("#key-left", "#key-centre", "#key-right")]

    def apply_camera(self, **fields):
        """Fills the camera form and presses Apply; answers whether the form let it go."""
        form = self.find("#camera-form")
        for name, value in fields.items():
            self.driver.execute_script("arguments[0].elements[arguments[1]].value = arguments[2]", form, name, value)
        valid = self.driver.execute_script("return arguments[0].checkValidity()", form)
        self.find("#camera-form button[type=submit]").click()
        return valid

    def upload_only(self, *paths):
        self.find("#card-upload").send_keys("\n".join(paths))

    def power_cycle(self):
        self.click("#key-power")
        self.wait_status("power off")
        self.click("#key-power")
        self.wait_status("power on")

    def press_through_to_update(self):
        for key, panel in (("#key-left", 1), ("#key-left", 2), ("#key-left", 3), ("#key-centre", 4)):
            self.click(key)
            self.wait_status(f"panel {panel}")


def pack(vupdate, image, out):
    subprocess.run([vupdate, "pack", "--image", image, "--out", out, "--firmware", "0x01100000", "--ccs",
                    "0x01000000", "--region", "1", "--installer", "0x01000000", "--vendor", "Norvale Co., Ltd.",
                    "--product", "Calyte QR", "--serial-min", "0", "--serial-max", "0xFFFFFFFF"],
                   check=True, stdout=subprocess.DEVNULL)


def start_browser():
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError as error:
        sys.exit(f"selenium is missing ({error}): scripts/install-deps.sh browser installs it")
    options = webdriver.ChromeOptions()
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1500,1000", "--hide-scrollbars"):
        options.add_argument(argument)
    chromium = shutil.which("chromium")
    if chromium:
        options.binary_location = chromium
    driver_path = shutil.which("chromedriver")
    try:
        return webdriver.Chrome(service=Service(driver_path) if driver_path else Service(), options=options)
    except Exception as error:  # no browser, no driver, or it cannot start here
        print(f"skipped: chromium cannot start ({error})")
        sys.exit(SKIP)


def start_server(vupdate, work, samples, card, flash):
    server = subprocess.Popen([vupdate, "serve", "--card", card, "--camera", os.path.join(samples, "camera-us.toml"),
                               "--flash", flash, "--port", "0"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, cwd=work)
    line = server.stdout.readline()
    if "http://" not in line:
        server.kill()
        raise AssertionError(f"vupdate serve did not start: {line}{server.stdout.read()}")
    return server, line[line.index("http://"):].strip()


def test_page(page, work, samples, image_length, flash):
    files = os.path.join(samples, "card", "SYSTEM")
    good = os.path.join(work, "QR40V110.BIN")
    bad = os.path.join(work, "QR40V111.BIN")

    # Files the card refuses, said as sentences before anything is sent.
    odd = os.path.join(work, "QR40 V110.BIN")
    shutil.copy(good, odd)
    page.drop(odd)
    page.wait(lambda: "cannot go on the card" in page.text("#message"), "the refused name said")
    assert "letters, digits" in page.text("#message"), page.text("#message")
    huge = os.path.join(work, "QR40HUGE.BIN")
    with open(huge, "wb") as f:
        f.write(b"\0" * (3 * 1024 * 1024))
    page.upload_only(huge)
    page.wait(lambda: "is 3145728 bytes; a file for the card is at most" in page.text("#message"),
              "the size limit said")
    assert not {"QR40 V110.BIN", "QR40HUGE.BIN"} & set(page.card_files()), page.card_files()

    # A good update dropped on the card pane, run on the page's own keys at ten times real time.
    page.drop(good)
    page.wait(lambda: "QR40V110.BIN" in page.card_files(), "the dropped file on the card")
    page.wait(lambda: "camera: accepted" in page.text("#inspect"), "inspect's verdict on the file")
    assert "installation: about" in page.text("#inspect"), page.text("#inspect")
    assert "vupdate-serve-" not in page.text("#inspect"), page.text("#inspect")
    assert page.text("#inspect").startswith("QR40V110.BIN:"), page.text("#inspect")
    page.power_cycle()
    page.wait_colour("green")
    page.wait_status("panel 0 splash · error 0 accepted")
    page.wait(lambda: page.soft_keys() == ["Start", "", "Abort"], "the splash's soft keys")
    page.click(".speed[data-factor='10']")
    page.press_through_to_update()
    page.wait_colour("progress", timeout=10)
    page.wait_colour("green", timeout=60)
    page.wait(lambda: page.text("#flash-state") == "programmed", "the flash programmed")
    assert page.card_files() == [], page.card_files()

    # A file with a wrong checksum: the error panel and the log's lines.
    page.upload(bad, os.path.join(files, "UPDATE.CAM"), os.path.join(files, "UPDATE.CRS"))
    page.power_cycle()
    page.wait_colour("red")
    page.wait(lambda: "image checksum doesn't match" in page.text("#log"), "the checksum line in the log")
    assert "CHKSUM: requiredChecksum=" in page.text("#log")
    page.wait_status("panel 8 error")
    page.find(f"#card-files tbody tr:first-child .remove").click()
    page.wait(lambda: "QR40V111.BIN" not in page.card_files(), "the bad file removed")

    # The camera form: a battery state the platform cannot report goes nowhere; a low one ends on panel 7.
    assert not page.apply_camera(battery="300"), "the form let 300 through"
    assert "(edited)" not in page.text("#camera-profile"), page.text("#camera-profile")
    assert page.apply_camera(battery="3", region="", serial="")
    page.wait(lambda: "(edited)" in page.text("#camera-profile"), "the edited profile")
    page.power_cycle()
    page.wait_status("panel 7 battery")
    page.wait(lambda: page.soft_keys() == ["", "", "Abort"], "the battery panel's soft keys")

    # The power cut during the installation, on a camera with a slow flash: partly written, files kept.
    slow = os.path.join(work, "slow.toml")
    with open(os.path.join(samples, "camera-us.toml")) as f:
        profile = f.read().replace("word_program_us = 8", "word_program_us = 400")
    with open(slow, "w") as f:
        f.write(profile.replace("erase_seconds = 10", "erase_seconds = 1"))
    page.find("#profile-upload").send_keys(slow)
    page.wait(lambda: "slow.toml" in page.text("#camera-profile"), "the slow profile")
    # The refused file took the other update files with it.
    page.upload(good, os.path.join(files, "UPDATE.CAM"), os.path.join(files, "UPDATE.CRS"))
    page.power_cycle()
    page.press_through_to_update()
    page.wait(lambda: page.text("#flash-state") == "programming", "the flash being programmed")
    page.click("#fault-power-cut")
    page.wait_status("power off (power cut)")
    page.wait(lambda: page.text("#flash-state") == "partly programmed", "the flash partly programmed")
    assert {"QR40V110.BIN", "UPDATE.CAM", "UPDATE.CRS"} <= set(page.card_files()), page.card_files()
    with open(good, "rb") as f:
        packed = f.read()
    with open(flash, "rb") as f:
        chip = f.read()
    written = next((i for i in range(image_length) if chip[i] == 0xFF), image_length)
    assert 0 < written < image_length, f"{written} of {image_length} bytes written"
    assert chip[:written] == packed[64:64 + written], "the flash holds the image's first words"


def screenshot(page, work, path):
    page.upload(os.path.join(work, "QR40V110.BIN"))
    page.power_cycle()
    page.wait_colour("green")
    for key, panel in (("#key-left", 1), ("#key-left", 2), ("#key-left", 3)):
        page.click(key)
        page.wait_status(f"panel {panel}")
    page.driver.execute_script("document.activeElement.blur()")
    time.sleep(0.5)
    page.driver.save_screenshot(path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--vupdate", required=True)
    parser.add_argument("--samples", required=True)
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    vupdate = os.path.abspath(args.vupdate)
    samples = os.path.abspath(args.samples)

    with tempfile.TemporaryDirectory(prefix="camera-page-") as work:
        image = os.path.join(work, "image.bin")
        image_length = 64 * 1024
        with open(image, "wb") as f:
            f.write(bytes((i * 7 + (i >> 8)) % 254 + 1 for i in range(image_length)))  # no 0xFF: blank stays tellable
        pack(vupdate, image, os.path.join(work, "QR40V110.BIN"))
        with open(os.path.join(work, "QR40V110.BIN"), "rb") as f:
            bad = bytearray(f.read())
        bad[100] ^= 0xFF
        with open(os.path.join(work, "QR40V111.BIN"), "wb") as f:
            f.write(bad)
        flash = os.path.join(work, "flash.bin")

        driver = start_browser()
        server, address = start_server(vupdate, work, samples, os.path.join(samples, "card"), flash)
        try:
            page = Page(driver, address)
            if args.screenshot:
                screenshot(page, work, os.path.abspath(args.screenshot))
            else:
                test_page(page, work, samples, image_length, flash)
                errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
                assert not errors, f"console errors: {errors}"
        finally:
            driver.quit()
            server.terminate()
            output = server.communicate(timeout=30)[0]
        if server.returncode != 0:
            raise AssertionError(f"vupdate serve ended with {server.returncode}: {output}")
    print("ok")


if __name__ == "__main__":
    main()
