"""A small signed client of the simulator: query-API calls (POST, form body, Signature
V4 like the module's request library) and control-interface calls. Used by the
simulator's tests and handy from a shell (python3 -m cloudsim.client ...)."""

import http.client
import json
import ssl
import sys
import urllib.parse
import xml.etree.ElementTree as ET

from .signing import sign_headers

API_VERSION = "2016-11-15"


def strip_ns(root):
    for el in root.iter():
        if "}" in el.tag:
            el.tag = el.tag.split("}", 1)[1]
    return root


class CallFailed(Exception):
    def __init__(self, status, code, message):
        super().__init__("%s %s: %s" % (status, code, message))
        self.status, self.code, self.message = status, code, message


class QueryClient:
    def __init__(self, host, port, access_key, secret, region="tavro-1", tls=False,
                 context=None, timeout=120):
        self.host, self.port = host, port
        self.access_key, self.secret, self.region = access_key, secret, region
        self.tls, self.context, self.timeout = tls, context, timeout

    def _connection(self):
        if self.tls:
            return http.client.HTTPSConnection(self.host, self.port, timeout=self.timeout,
                                               context=self.context or
                                               ssl.create_default_context())
        return http.client.HTTPConnection(self.host, self.port, timeout=self.timeout)

    def raw(self, action, params=(), version=API_VERSION, sign=True, secret=None,
            amz_date=None, tamper=None):
        """Sends one call; returns (HTTP status, body bytes)."""
        pairs = [("Action", action)] + ([("Version", version)] if version else [])
        pairs += list(params)
        body = urllib.parse.urlencode(pairs, quote_via=urllib.parse.quote).encode()
        host = "%s:%d" % (self.host, self.port)
        headers = [("Content-Type", "application/x-www-form-urlencoded; charset=utf-8")]
        if sign:
            headers = sign_headers("POST", host, "/", "", body, self.access_key,
                                   secret or self.secret, self.region,
                                   amz_date=amz_date, extra_headers=headers)
        if tamper:
            body = tamper(body)
        conn = self._connection()
        try:
            conn.putrequest("POST", "/", skip_host=True, skip_accept_encoding=True)
            if not sign:
                conn.putheader("Host", host)
            for name, value in headers:
                conn.putheader(name, value)
            conn.putheader("Content-Length", str(len(body)))
            conn.endheaders(body)
            resp = conn.getresponse()
            return resp.status, resp.read()
        finally:
            conn.close()

    def call(self, action, params=(), **kw):
        """The answer's root element (namespace removed); raises CallFailed."""
        status, body = self.raw(action, params, **kw)
        root = strip_ns(ET.fromstring(body))
        if status != 200:
            raise CallFailed(status, root.findtext(".//Code"), root.findtext(".//Message"))
        return root


class ControlClient:
    def __init__(self, host, port, timeout=120):
        self.host, self.port, self.timeout = host, port, timeout

    def request(self, method, path, data=None, **query):
        conn = http.client.HTTPConnection(self.host, self.port, timeout=self.timeout)
        try:
            url = "/_sim" + path + ("?" + urllib.parse.urlencode(query) if query else "")
            body = json.dumps(data).encode() if data is not None else None
            conn.request(method, url, body=body,
                         headers={"Content-Type": "application/json"})
            resp = conn.getresponse()
            payload = json.loads(resp.read() or b"null")
            if resp.status != 200:
                raise CallFailed(resp.status, "Control", payload)
            return payload
        finally:
            conn.close()

    def get(self, path, **query):
        return self.request("GET", path, **query)

    def post(self, path, data=None):
        return self.request("POST", path, data if data is not None else {})

    def delete(self, path):
        return self.request("DELETE", path)


def main(argv):
    """python3 -m cloudsim.client PORT ACCESS_KEY SECRET ACTION [Name=Value ...]"""
    if len(argv) < 4:
        print(main.__doc__, file=sys.stderr)
        return 2
    port, key, secret, action = int(argv[0]), argv[1], argv[2], argv[3]
    params = [tuple(a.split("=", 1)) for a in argv[4:]]
    status, body = QueryClient("127.0.0.1", port, key, secret).raw(action, params)
    sys.stdout.write(body.decode())
    return 0 if status == 200 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
