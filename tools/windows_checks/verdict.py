"""How the checks report: one line per rule, "good TEXT" or "bad TEXT", which
tools/check-windows-binaries.sh turns into its "ok:" and "FAIL:" lines."""


def rule(ok, good, bad):
    print(('good ' + good) if ok else ('bad ' + bad))
