"""`cmake --install` into a prefix of its own: the layout an operator finds, the paths of the
unit and the example configuration following that prefix, a configuration kept private and kept
at a second install, and a unit that systemd-analyze accepts without a word.
Usage: install_test.py CMAKE BUILD_DIR"""
import json
import os
import shutil
import stat
import subprocess
import sys
import tempfile

cmake, build = sys.argv[1:3]
failures = []


def run(*command, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          universal_newlines=True, **options)


with tempfile.TemporaryDirectory() as work:
    prefix = os.path.join(work, "some", "where")
    result = run(cmake, "--install", build, "--prefix", prefix)
    if result.returncode != 0:
        sys.exit("cmake --install failed:\n" + result.stdout)
    conf = os.path.join(prefix, "etc/cvaicp/cvadmind.conf")
    unit = os.path.join(prefix, "lib/systemd/system/cvadmind.service")
    for wanted in ("bin/cvcal", "bin/cvadmind", "lib/libcvaicp.so", "share/man/man1/cvcal.1",
                   "share/man/man1/cvcal-config-show.1", "share/man/man5/cvadmind.conf.5",
                   "share/man/man8/cvadmind.8", "share/doc/cvaicp/README.md",
                   "share/doc/cvaicp/cvadmind.conf", "share/doc/cvaicp/store.reg", conf, unit):
        if not os.path.exists(os.path.join(prefix, wanted)):
            failures.append("not installed: " + wanted)
    if os.path.exists(conf) and stat.S_IMODE(os.stat(conf).st_mode) != 0o600:
        failures.append("%s: mode %o, not 600" % (conf, stat.S_IMODE(os.stat(conf).st_mode)))

    with open(unit) as f:
        unit_text = f.read()
    wanted = "ExecStart=%s/bin/cvadmind --config %s/etc/cvaicp/cvadmind.conf --registry %s/etc/" \
             "cvaicp/store.reg" % (prefix, prefix, prefix)
    if wanted not in unit_text:
        failures.append("the unit's ExecStart is not below the prefix: " + unit_text)

    # Every setting cvadmind knows is shown in the example, so that none is left unlearnt.
    reference = run(os.path.join(prefix, "bin/cvadmind"), "--help-config").stdout
    settings = [line.split(" = ")[0].strip() for line in reference.split("\nSettings:\n")[1]
                .split("\n\n")[0].splitlines() if " = " in line and line.startswith("  ")
                and not line.startswith("   ")]
    with open(conf) as f:
        example = f.read()
    for setting in settings:
        if "\n%s = " % setting not in example and "\n# %s = " % setting not in example:
            failures.append("the example configuration does not show " + setting)
    if len(settings) < 8:
        failures.append("--help-config names only: %s" % settings)

    # The installed cvcal reads the sample store.reg as it is shipped.
    shown = run(os.path.join(prefix, "bin/cvcal"), "--json", "--registry",
                os.path.join(prefix, "share/doc/cvaicp/store.reg"), "config", "show")
    if shown.returncode != 0 or json.loads(shown.stdout).get("mail_root") != "/srv/mail":
        failures.append("cvcal config show of the sample store.reg: " + shown.stdout)

    # An operator's configuration outlives the next install.
    with open(conf, "a") as f:
        f.write("credentials = chosen-by-the-operator\n")
    run(cmake, "--install", build, "--prefix", prefix)
    with open(conf) as f:
        if "chosen-by-the-operator" not in f.read():
            failures.append("a second install overwrote " + conf)

    analyze = shutil.which("systemd-analyze")
    skip = "no systemd-analyze" if not analyze else None
    if analyze:
        environment = dict(os.environ, MANPATH=os.path.join(prefix, "share/man"))
        # A unit that cannot be wrong: if it is not passed in silence, systemd-analyze cannot
        # work here (no systemd in a container, say), and says nothing about ours.
        plain = os.path.join(work, "plain.service")
        with open(plain, "w") as f:
            f.write("[Service]\nType=oneshot\nExecStart=/bin/true\n")
        probe = run(analyze, "verify", plain, env=environment)
        if probe.returncode != 0 or probe.stdout.strip():
            skip = "systemd-analyze verify cannot run here: " + probe.stdout.strip()
        else:
            verdict = run(analyze, "verify", unit, env=environment)
            if verdict.returncode != 0 or verdict.stdout.strip():
                failures.append("systemd-analyze verify: " + verdict.stdout.strip())

for failure in failures:
    print("FAIL:", failure)
if failures:
    sys.exit(1)
if skip:
    print("SKIP:", skip)
    sys.exit(77)
print("installed and checked")
