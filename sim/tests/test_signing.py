"""Signature V4: the canonicalisation against published vectors, and the server's
verdict on correctly and wrongly signed requests."""

import hashlib
import unittest

import support  # noqa: F401  (puts the simulator on the path)
from support import ACCESS_KEY, SECRET, SimTestCase
from cloudsim import signing
from cloudsim.errors import AuthError

EXAMPLE_SECRET = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"
EMPTY = hashlib.sha256(b"").hexdigest()


class KnownAnswers(unittest.TestCase):
    def test_published_vectors(self):
        vanilla = [("Host", "example.amazonaws.com"), ("X-Amz-Date", "20150830T123600Z")]
        s3 = [("Host", "examplebucket.s3.amazonaws.com"), ("Range", "bytes=0-9"),
              ("x-amz-content-sha256", EMPTY), ("x-amz-date", "20130524T000000Z")]
        cases = [
            ("get-vanilla-query-order-key-case", EXAMPLE_SECRET, "20150830T123600Z",
             "service", "/", [("Param2", "value2"), ("Param1", "value1")], vanilla, True,
             "b97d918cfa904a5beff61c982a1b6f458b799221646efd99d3219ec94cdf2500"),
            ("s3-get-object", "wJalrXUtnFEMI/K7MDENG/bPxRfiCYEXAMPLEKEY",
             "20130524T000000Z", "s3", "/test.txt", [], s3, False,
             "f0e8bdb87c964420e857bd35b5d6ed310bd44f0170aba48dd91039c6036bdb41"),
        ]
        for name, secret, date, service, path, query, headers, double, want in cases:
            with self.subTest(name):
                signed = sorted(n.lower() for n, _ in headers)
                creq = signing.canonical_request("GET", path, query, headers, signed, EMPTY, double)
                self.assertEqual(want, signing.signature(secret, date, "us-east-1", service, creq))


class VerifierVerdicts(unittest.TestCase):
    NOW = 1700000000.0
    BODY = b"Action=DescribeVolumes&Version=2016-11-15"

    def verifier(self, **kw):
        return signing.Verifier({ACCESS_KEY: SECRET}, clock=lambda: self.NOW, **kw)

    def signed(self, secret=SECRET, key=ACCESS_KEY, service="ec2", when=None):
        date = signing.amz_now(lambda: when or self.NOW)
        form = [("Content-Type", "application/x-www-form-urlencoded")]
        return signing.sign_headers("POST", "127.0.0.1:8080", "/", "", self.BODY, key, secret,
                                    "tavro-1", service=service, amz_date=date, extra_headers=form)

    def test_refusals(self):
        def drop(headers, name):
            return [(n, v) for n, v in headers if n != name]

        good = self.signed()
        retyped = [(n, "text/plain" if n == "Content-Type" else v) for n, v in good]
        mismatch, auth = "SignatureDoesNotMatch", "AuthFailure"
        payload = "XAmzContentSHA256Mismatch"
        cases = [  # name, headers, code[, body[, verifier settings]]
            ("wrong secret", self.signed(secret="other"), mismatch),
            ("unknown key", self.signed(key="AKIDUNKNOWN"), auth),
            ("body changed", good, mismatch, self.BODY + b"&VolumeId.1=x"),
            ("signed header changed", retyped, mismatch),
            ("no authorization", drop(good, "Authorization"), auth),
            ("other service", self.signed(service="s3"), auth),
            ("too old", self.signed(when=self.NOW - 3600), auth),
            ("region not served", good, auth, self.BODY, {"region": "elsewhere"}),
            ("date header missing", drop(good, "X-Amz-Date"), auth),
            ("payload hash differs", good + [("x-amz-content-sha256", EMPTY)], payload),
        ]
        status = {mismatch: 403, auth: 401, payload: 400}
        for name, headers, code, *rest in cases:
            body, kw = (rest + [self.BODY, {}][len(rest):])[:2]
            with self.subTest(name):
                with self.assertRaises(AuthError) as cm:
                    self.verifier(**kw).verify("POST", "/", "", headers, body)
                self.assertEqual((code, status[code]), (cm.exception.code, cm.exception.status))
                self.assertNotIn(SECRET, cm.exception.message)


class OverHttp(SimTestCase):
    def test_server_refuses_unsigned_and_tampered_calls(self):
        self.refused("DescribeCloud", (), "AuthFailure", 401, sign=False)
        self.refused("DescribeCloud", (), "SignatureDoesNotMatch", 403,
                     tamper=lambda b: b + b"&x=1")


if __name__ == "__main__":
    unittest.main()
