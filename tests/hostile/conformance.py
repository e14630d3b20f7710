"""Reads the W3C XML conformance suite's manifests: the not-well-formed cases that
apply to an XML 1.0 (fifth edition) processor with namespaces."""
import os
import re
import xml.etree.ElementTree as ET


def not_well_formed_cases(xmlconf_dir):
    """(id, absolute path) of every not-wf test of XML 1.0, fifth edition."""
    with open(os.path.join(xmlconf_dir, "xmlconf.xml"), encoding="utf-8") as f:
        top = f.read()
    manifests = re.findall(r'<!ENTITY\s+\S+\s+SYSTEM\s+"([^"]+)"\s*>', top)
    cases = []
    for manifest in manifests:
        path = os.path.join(xmlconf_dir, manifest)
        base = os.path.dirname(path)
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        # Some manifests are fragments (several TESTCASES, no single root): wrap them.
        text = re.sub(r"<\?xml[^>]*\?>", "", text, count=1)
        text = re.sub(r"<!DOCTYPE[^>\[]*(\[.*?\])?\s*>", "", text, count=1, flags=re.S)
        for test in ET.fromstring("<ROOT>" + text + "</ROOT>").iter("TEST"):
            if test.get("TYPE") != "not-wf":
                continue
            if test.get("VERSION", "1.0") != "1.0" or test.get("RECOMMENDATION", "XML1.0") not in (
                    "XML1.0", "NS1.0", "XML1.0-errata2e", "XML1.0-errata3e", "XML1.0-errata4e"):
                continue
            editions = test.get("EDITION")
            if editions is not None and "5" not in editions.split():
                continue  # not-wf only under earlier editions
            cases.append((test.get("ID"), os.path.normpath(os.path.join(base, test.get("URI")))))
    return cases
