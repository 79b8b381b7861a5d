"""Request parameters of one query-API call: the ordered (name, value) pairs, with the
look-ups the actions need (single values, numbered lists, filters) and the check that
refuses names an action does not take."""

import re

from .errors import ApiError, invalid, missing

FILTER_RE = re.compile(r"^Filter\.(\d+)\.(Name|Value\.(\d+))$")


class Params:
    def __init__(self, pairs):
        self.pairs = list(pairs)
        self._first = {}
        for name, value in self.pairs:
            self._first.setdefault(name, value)

    def get(self, name, default=None):
        return self._first.get(name, default)

    def has(self, name):
        return name in self._first

    def require(self, name):
        value = self._first.get(name)
        if value is None or value == "":
            raise missing(name)
        return value

    def numbered(self, prefix):
        """Values of prefix.1, prefix.2, ... in number order."""
        found = []
        pat = re.compile(r"^%s\.(\d+)$" % re.escape(prefix))
        for name, value in self.pairs:
            m = pat.match(name)
            if m:
                found.append((int(m.group(1)), value))
        return [v for _, v in sorted(found)]

    def numbered_groups(self, prefix):
        """{n: {suffix: value}} for names prefix.n.suffix, e.g. BlockDeviceMapping."""
        groups = {}
        pat = re.compile(r"^%s\.(\d+)\.(.+)$" % re.escape(prefix))
        for name, value in self.pairs:
            m = pat.match(name)
            if m:
                groups.setdefault(int(m.group(1)), {})[m.group(2)] = value
        return dict(sorted(groups.items()))

    def filters(self, allowed):
        """{filter name: [values]}; refuses a filter name the action does not know."""
        names, values = {}, {}
        for name, value in self.pairs:
            m = FILTER_RE.match(name)
            if not m:
                continue
            n = int(m.group(1))
            if m.group(2) == "Name":
                names[n] = value
            else:
                values.setdefault(n, []).append((int(m.group(3)), value))
        result = {}
        for n, fname in sorted(names.items()):
            if fname not in allowed:
                raise invalid("The filter '%s' is invalid" % fname)
            vals = [v for _, v in sorted(values.get(n, []))]
            if not vals:
                raise invalid("The filter '%s' has no value" % fname)
            result.setdefault(fname, []).extend(vals)
        for n in values:
            if n not in names:
                raise missing("Filter.%d.Name" % n)
        return result

    def int_value(self, name, low=None, high=None, default=None):
        text = self.get(name)
        if text is None:
            return default
        try:
            value = int(text, 10)
        except ValueError:
            raise invalid("Value '%s' for parameter %s is not an integer"
                          % (text, name)) from None
        if (low is not None and value < low) or (high is not None and value > high):
            raise invalid("Value %d for parameter %s is out of range" % (value, name))
        return value

    def bool_value(self, name, default=False):
        text = self.get(name)
        if text is None:
            return default
        if text not in ("true", "false"):
            raise invalid("Value '%s' for parameter %s must be true or false"
                          % (text, name))
        return text == "true"


def compile_patterns(patterns):
    return [re.compile("^%s$" % p) for p in patterns]


def check_known(params, patterns):
    """Refuses the first parameter that matches none of the action's patterns."""
    for name, _ in params.pairs:
        if not any(p.match(name) for p in patterns):
            raise ApiError("UnknownParameter",
                           "The parameter %s is not recognized" % name)
