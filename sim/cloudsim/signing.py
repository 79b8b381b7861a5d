"""AWS Signature Version 4 for the simulator's query API.

The server verifies every request with Verifier; tests and the small command-line client
sign their requests with sign_headers. Both share the canonicalisation below, so a test
that signs with known-answer vectors checks the verifier too."""

import datetime
import hashlib
import hmac
import posixpath
import re
import time
import urllib.parse

from .errors import AuthError

ALGORITHM = "AWS4-HMAC-SHA256"
TERMINATOR = "aws4_request"
UNSIGNED = "UNSIGNED-PAYLOAD"
PRESIGN_KEYS = ("X-Amz-Algorithm", "X-Amz-Credential", "X-Amz-Date",
                "X-Amz-SignedHeaders", "X-Amz-Signature", "X-Amz-Expires",
                "X-Amz-Security-Token")


def uri_encode(text, keep_slash=False):
    safe = "-_.~/" if keep_slash else "-_.~"
    return urllib.parse.quote(text, safe=safe)


def split_query(raw_query):
    """Decoded (name, value) pairs of a raw query string, in order."""
    pairs = []
    for part in raw_query.split("&") if raw_query else []:
        if not part:
            continue
        name, _, value = part.partition("=")
        pairs.append((urllib.parse.unquote(name), urllib.parse.unquote(value)))
    return pairs


def canonical_query(pairs):
    encoded = sorted((uri_encode(n), uri_encode(v)) for n, v in pairs)
    return "&".join("%s=%s" % nv for nv in encoded)


def canonical_uri(raw_path, double_encode=True):
    path = urllib.parse.unquote(raw_path or "/")
    normal = posixpath.normpath(path) if path != "/" else "/"
    if normal.startswith("//"):
        normal = "/" + normal.lstrip("/")
    if path.endswith("/") and normal != "/":
        normal += "/"
    once = uri_encode(normal, keep_slash=True)
    return uri_encode(once, keep_slash=True) if double_encode else once


def header_values(headers, name):
    return [v for n, v in headers if n.lower() == name]


def canonical_headers(headers, signed):
    lines = []
    for name in signed:
        values = header_values(headers, name)
        lines.append("%s:%s\n" % (name, ",".join(" ".join(v.split()) for v in values)))
    return "".join(lines)


def canonical_request(method, raw_path, query_pairs, headers, signed, payload_hash,
                      double_encode=True):
    return "\n".join([method.upper(), canonical_uri(raw_path, double_encode),
                      canonical_query(query_pairs), canonical_headers(headers, signed),
                      ";".join(signed), payload_hash])


def string_to_sign(amz_date, scope, creq):
    digest = hashlib.sha256(creq.encode("utf-8")).hexdigest()
    return "\n".join([ALGORITHM, amz_date, scope, digest])


def signing_key(secret, date, region, service):
    key = ("AWS4" + secret).encode("utf-8")
    for part in (date, region, service, TERMINATOR):
        key = hmac.new(key, part.encode("utf-8"), hashlib.sha256).digest()
    return key


def signature(secret, amz_date, region, service, creq):
    scope = "/".join([amz_date[:8], region, service, TERMINATOR])
    key = signing_key(secret, amz_date[:8], region, service)
    sts = string_to_sign(amz_date, scope, creq)
    return hmac.new(key, sts.encode("utf-8"), hashlib.sha256).hexdigest()


def amz_now(clock=time.time):
    return datetime.datetime.fromtimestamp(clock(), datetime.timezone.utc).strftime(
        "%Y%m%dT%H%M%SZ")


def sign_headers(method, host, raw_path, raw_query, body, access_key, secret, region,
                 service="ec2", amz_date=None, extra_headers=()):
    """Headers (name, value) that authorise one request: Host, X-Amz-Date, the extra
    headers given, and Authorization over all of them."""
    amz_date = amz_date or amz_now()
    headers = [("Host", host), ("X-Amz-Date", amz_date)] + list(extra_headers)
    signed = sorted({n.lower() for n, _ in headers})
    payload = hashlib.sha256(body or b"").hexdigest()
    creq = canonical_request(method, raw_path, split_query(raw_query), headers, signed,
                             payload)
    sig = signature(secret, amz_date, region, service, creq)
    scope = "/".join([amz_date[:8], region, service, TERMINATOR])
    auth = "%s Credential=%s/%s, SignedHeaders=%s, Signature=%s" % (
        ALGORITHM, access_key, scope, ";".join(signed), sig)
    return headers + [("Authorization", auth)]


_AUTH_RE = re.compile(r"^AWS4-HMAC-SHA256\s+(.*)$", re.S)


def parse_authorization(value):
    """The Credential, SignedHeaders and Signature fields of an Authorization header."""
    match = _AUTH_RE.match(value.strip())
    if not match:
        raise AuthError("AuthFailure", "Unsupported authorization type")
    fields = {}
    for part in match.group(1).split(","):
        name, _, val = part.strip().partition("=")
        fields[name.strip()] = val.strip()
    for name in ("Credential", "SignedHeaders", "Signature"):
        if not fields.get(name):
            raise AuthError("AuthFailure", "Authorization header lacks %s" % name)
    return fields


def parse_amz_date(text):
    try:
        stamp = datetime.datetime.strptime(text, "%Y%m%dT%H%M%SZ")
    except (TypeError, ValueError):
        raise AuthError("AuthFailure", "Invalid X-Amz-Date '%s'" % text) from None
    return stamp.replace(tzinfo=datetime.timezone.utc).timestamp()


class Verifier:
    """Checks Signature V4 of query-API requests against a set of accounts.

    accounts: access key -> secret key (a mapping that may change between requests).
    region: when set, the only region accepted in the credential scope.
    max_skew: largest accepted distance, in seconds, between X-Amz-Date and now
    (None: not checked)."""

    def __init__(self, accounts, service="ec2", region=None, max_skew=900,
                 clock=time.time):
        self.accounts = accounts
        self.service = service
        self.region = region
        self.max_skew = max_skew
        self.clock = clock

    def verify(self, method, raw_path, raw_query, headers, body):
        """Returns the access key of a correctly signed request; raises AuthError."""
        query = split_query(raw_query)
        auth = header_values(headers, "authorization")
        if auth:
            fields = parse_authorization(auth[0])
            amz_date = (header_values(headers, "x-amz-date") or [""])[0].strip()
            query_for_sig = query
        elif any(n == "X-Amz-Signature" for n, _ in query):
            fields, amz_date = self._presigned_fields(query)
            query_for_sig = [(n, v) for n, v in query if n != "X-Amz-Signature"]
        else:
            raise AuthError("AuthFailure", "The request is not signed",
                            status=401)
        access_key, scope_date, region = self._check_scope(fields["Credential"])
        secret = self.accounts.get(access_key)
        if secret is None:
            raise AuthError("AuthFailure", "Unknown access key '%s'" % access_key)
        self._check_date(amz_date, scope_date)
        signed = fields["SignedHeaders"].lower().split(";")
        if "host" not in signed:
            raise AuthError("AuthFailure", "The Host header must be signed")
        if auth and "x-amz-date" not in signed:
            raise AuthError("AuthFailure", "The X-Amz-Date header must be signed")
        payload = self._payload_hash(headers, body)
        wanted = fields["Signature"].lower()
        for double in (True, False):
            creq = canonical_request(method, raw_path, query_for_sig, headers, signed,
                                     payload, double)
            sig = signature(secret, amz_date, region, self.service, creq)
            if hmac.compare_digest(sig, wanted):
                return access_key
        raise AuthError("SignatureDoesNotMatch",
                        "The request signature we calculated does not match the "
                        "signature you provided", status=403)

    def _presigned_fields(self, query):
        values = dict(query)
        if values.get("X-Amz-Algorithm") != ALGORITHM:
            raise AuthError("AuthFailure", "Unsupported signing algorithm")
        fields = {"Credential": values.get("X-Amz-Credential", ""),
                  "SignedHeaders": values.get("X-Amz-SignedHeaders", ""),
                  "Signature": values.get("X-Amz-Signature", "")}
        if not all(fields.values()):
            raise AuthError("AuthFailure", "Incomplete presigned request")
        return fields, values.get("X-Amz-Date", "")

    def _check_scope(self, credential):
        parts = credential.split("/")
        if len(parts) != 5:
            raise AuthError("AuthFailure", "Malformed credential scope")
        access_key, date, region, service, terminator = parts
        if service != self.service or terminator != TERMINATOR:
            raise AuthError("AuthFailure",
                            "Credential scope must name service '%s'" % self.service)
        if self.region is not None and region != self.region:
            raise AuthError("AuthFailure", "Region '%s' is not served here" % region)
        return access_key, date, region

    def _check_date(self, amz_date, scope_date):
        stamp = parse_amz_date(amz_date)
        if amz_date[:8] != scope_date:
            raise AuthError("AuthFailure", "Credential date does not match X-Amz-Date")
        if self.max_skew is not None and abs(self.clock() - stamp) > self.max_skew:
            raise AuthError("AuthFailure", "Signature expired: request time %s is too "
                            "far from the server time" % amz_date)

    @staticmethod
    def _payload_hash(headers, body):
        actual = hashlib.sha256(body or b"").hexdigest()
        declared = header_values(headers, "x-amz-content-sha256")
        if declared:
            value = declared[0].strip()
            if value == UNSIGNED:
                return value
            if value != actual:
                raise AuthError("XAmzContentSHA256Mismatch",
                                "The provided x-amz-content-sha256 header does not "
                                "match the request body", status=400)
            return value
        return actual
