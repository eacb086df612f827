#!/usr/bin/env python3
"""Writes the software bill of materials of the Windows program, an SPDX 2.3
JSON document: lumaLeveller and every library linked into lumaLeveller.exe,
each with its Debian source package, version and licence.

    sbom.py VERSION COMPONENTS LICENSES OUTPUT

COMPONENTS is scripts/windows' components.tsv (licence folder, source
package, version; one a line); LICENSES the folder of the libraries' licence
texts, one subfolder per component with its Debian copyright file. A
licence is the License field of the copyright file's header or of its
"Files: *" paragraph (the first Files paragraph when none names "*"), as an
SPDX identifier where the name is one; other names become LicenseRef-
identifiers with the licence's text from the same file. A copyright file that
is not machine-readable names the licence of GCC's runtime libraries (the
GPL 3 with the GCC Runtime Library Exception) when it holds that exception,
else the licence whose whole text is one of the component's other licence
files (KNOWN_TEXTS: the text alone, with its copyright lines and names of
holders, and nothing else); any other gives NOASSERTION and a warning, so
that a licence not recognised is never named by a guess.

The content depends on its inputs alone: the creation time is
SOURCE_DATE_EPOCH (now when unset), the namespace a UUID derived from the
version and the document's other content.
"""
import datetime
import hashlib
import json
import os
import re
import sys
import uuid

# Debian's short licence names of the libraries, lower case, and their SPDX
# identifiers.
SPDX_NAMES = {
    "apache-2.0": "Apache-2.0", "bsd-2-clause": "BSD-2-Clause", "bsd-3-clause": "BSD-3-Clause",
    "expat": "MIT", "mit": "MIT", "zlib": "Zlib", "libpng": "Libpng", "libpng-2.0": "libpng-2.0",
    "ijg": "IJG", "libtiff": "libtiff", "zpl-2.1": "ZPL-2.1",
    "lgpl-2.1+": "LGPL-2.1-or-later", "gpl-2+": "GPL-2.0-or-later", "gpl-3+": "GPL-3.0-or-later",
    "bsd-2": "BSD-2-Clause", "isc": "ISC", "cc0-1.0": "CC0-1.0", "bsl-1.0": "BSL-1.0",
}
GCC_RUNTIME = "GPL-3.0-or-later WITH GCC-exception-3.1"
# Whole licence texts recognised in a component's licence files, as
# patterns over the text in lower case with every run of other characters
# than letters and digits made one space, its leading copyright lines left
# out; the names of the holders are free.
KNOWN_TEXTS = {
    "BSD-3-Clause": re.compile(
        "redistribution and use in source and binary forms with or without modification are permitted "
        "provided that the following conditions are met "
        "(1 )?redistributions of source code must retain the above copyright notice this list of conditions "
        "and the following disclaimer "
        "(2 )?redistributions in binary form must reproduce the above copyright notice this list of conditions "
        "and the following disclaimer in the documentation and or other materials provided with the distribution "
        "(3 )?neither the name of [a-z0-9 ]{1,80} nor the names of (its|their) contributors may be used to endorse "
        "or promote products derived from this software without specific prior written permission "
        "this software is provided by the copyright holders? and contributors as is and any express or implied "
        "warranties including but not limited to the implied warranties of merchantability and fitness for a "
        "particular purpose are disclaimed in no event shall the copyright (holders?|owners?) or contributors be "
        "liable for any direct indirect incidental special exemplary or consequential damages including but not "
        "limited to procurement of substitute goods or services loss of use data or profits or business "
        "interruption however caused and on any theory of liability whether in contract strict liability or "
        "tort including negligence or otherwise arising in any way out of the use of this software even if "
        "advised of the possibility of such damage"),
}
NAMESPACE = uuid.UUID("B32DE645-28B4-4B1B-AF4E-A865E49D3F51")  # the installer's UpgradeCode


def paragraphs(text):
    """The paragraphs of a deb822 file as dicts of lower-case field names
    and values; continuation lines are kept in the value ("." as empty)."""
    result = []
    for block in re.split(r"\n\s*\n", text):
        fields = []
        for line in block.splitlines():
            if line[:1] in (" ", "\t") and fields:
                text = "" if line.strip() == "." else line[1:]
                fields[-1] = (fields[-1][0], fields[-1][1] + "\n" + text)
            elif ":" in line and not line.startswith("#"):
                name, value = line.split(":", 1)
                fields.append((name.strip().lower(), value.strip()))
        if fields:
            result.append(dict(fields))
    return result


def spdx_id(name, texts, extracted):
    """The SPDX identifier of a Debian licence name; a name that is none
    goes into `extracted` as a LicenseRef- with its text."""
    known = SPDX_NAMES.get(name.lower())
    if known:
        return known
    ref = "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", name)
    extracted.setdefault(ref, (name, texts.get(name.lower(), "")))
    return ref


def spdx_expression(field, texts, extracted):
    """The SPDX expression of a License field's first line (names joined
    by and, or, with, in parentheses or not)."""
    terms = []
    for token in re.findall(r"[()]|[^\s(),]+", field.split("\n")[0]):
        if token.lower() in ("and", "or", "with"):
            terms.append(token.upper())
        elif token in "()":
            terms.append(token)
        else:
            terms.append(spdx_id(token, texts, extracted))
    return " ".join(terms) or "NOASSERTION"


def recognised_licence(texts):
    """The identifier of KNOWN_TEXTS whose pattern matches one of the
    texts whole, or None."""
    for text in texts:
        lines = text.strip().splitlines()
        while lines and (not lines[0].strip() or lines[0].lstrip().lower().startswith("copyright")):
            lines.pop(0)
        words = re.sub(r"[^a-z0-9]+", " ", "\n".join(lines).lower()).strip()
        for licence, pattern in KNOWN_TEXTS.items():
            if pattern.fullmatch(words):
                return licence
    return None


def declared_licence(copyright_text, extracted, licence_texts=()):
    """The licence of a copyright file, as the module comment says;
    licence_texts are the component's other licence files."""
    parts = paragraphs(copyright_text)
    if not parts or "format" not in parts[0]:
        if "GCC RUNTIME LIBRARY EXCEPTION" in copyright_text:
            return GCC_RUNTIME
        return recognised_licence(licence_texts) or "NOASSERTION"
    texts = {p["license"].split("\n")[0].strip().lower(): p["license"].split("\n", 1)[-1]
             for p in parts if "license" in p and "files" not in p and "\n" in p["license"]}
    if "license" in parts[0]:
        return spdx_expression(parts[0]["license"], texts, extracted)
    files = [p for p in parts if "files" in p and "license" in p]
    main = next((p for p in files if "*" in p["files"].split()), files[0] if files else None)
    return spdx_expression(main["license"], texts, extracted) if main else "NOASSERTION"


def main(version, components_file, licences, output):
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or datetime.datetime.now().timestamp())
    created = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    extracted = {}
    packages = [{
        "name": "lumaLeveller", "SPDXID": "SPDXRef-lumaLeveller", "versionInfo": version,
        "supplier": "Organization: Lumaclear", "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
        "licenseDeclared": "Apache-2.0", "licenseConcluded": "Apache-2.0", "copyrightText": "NOASSERTION",
        "primaryPackagePurpose": "APPLICATION",
    }]
    with open(components_file, encoding="utf-8") as lines:
        components = sorted(line.rstrip("\n").split("\t") for line in lines if line.strip())
    for folder, source, source_version in components:
        texts = {}
        for name in sorted(os.listdir(os.path.join(licences, folder))):
            with open(os.path.join(licences, folder, name), encoding="utf-8", errors="replace") as file:
                texts[name] = file.read()
        copyright_text = texts.pop("copyright")
        licence = declared_licence(copyright_text, extracted, texts.values())
        if licence == "NOASSERTION":
            print(f"sbom.py: the licence of {source} is not recognised (licenses/{folder})", file=sys.stderr)
        packages.append({
            "name": source, "SPDXID": "SPDXRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", source),
            "versionInfo": source_version, "supplier": "Organization: Debian",
            "downloadLocation": "NOASSERTION", "filesAnalyzed": False,
            "licenseDeclared": licence, "licenseConcluded": "NOASSERTION", "copyrightText": "NOASSERTION",
            "comment": f"Debian source package; licence from licenses/{folder}/copyright",
            "externalRefs": [{"referenceCategory": "PACKAGE-MANAGER", "referenceType": "purl",
                              "referenceLocator": f"pkg:deb/debian/{source}@{source_version.replace('+', '%2B').replace(':', '%3A')}?arch=source"}],
            "primaryPackagePurpose": "LIBRARY",
        })
    document = {
        "spdxVersion": "SPDX-2.3", "dataLicense": "CC0-1.0", "SPDXID": "SPDXRef-DOCUMENT",
        "name": f"lumaLeveller-{version}-win64",
        "creationInfo": {"created": created, "creators": ["Organization: Lumaclear", "Tool: sbom.py"]},
        "packages": packages,
        "relationships": [{"spdxElementId": "SPDXRef-DOCUMENT", "relationshipType": "DESCRIBES",
                           "relatedSpdxElement": "SPDXRef-lumaLeveller"}] +
                         [{"spdxElementId": "SPDXRef-lumaLeveller", "relationshipType": "STATIC_LINK",
                           "relatedSpdxElement": p["SPDXID"]} for p in packages[1:]],
    }
    if extracted:
        document["hasExtractedLicensingInfos"] = [
            {"licenseId": ref, "name": name, "extractedText": text or f"{name}: see the Debian copyright file"}
            for ref, (name, text) in sorted(extracted.items())]
    content = json.dumps(document, sort_keys=True).encode()
    document["documentNamespace"] = ("https://lumaclear.example.org/spdx/lumaLeveller-" + version + "-win64-" +
                                     str(uuid.uuid5(NAMESPACE, hashlib.sha256(content).hexdigest())))
    with open(output, "w", encoding="utf-8", newline="\n") as file:
        json.dump(document, file, indent=2, sort_keys=True, ensure_ascii=False)
        file.write("\n")


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
