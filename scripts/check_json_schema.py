#!/usr/bin/env python3
"""Checks JSON files against a JSON Schema (draft 2020-12).

    check_json_schema.py SCHEMA FILE...

Prints each file that does not follow the schema with the first reasons and
exits 1; exits 2 when the jsonschema module (Debian python3-jsonschema) is
missing, so that a caller can say how to get it.
"""
import json
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed", file=sys.stderr)
    sys.exit(2)


def main(schema_path, files):
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    bad = 0
    for path in files:
        with open(path, encoding="utf-8") as f:
            document = json.load(f)
        errors = sorted(validator.iter_errors(document), key=lambda e: list(e.path))
        if errors:
            bad += 1
            for error in errors[:5]:
                where = "/".join(str(p) for p in error.path) or "(top)"
                print(f"{path}: {where}: {error.message}")
    print(f"{len(files) - bad} of {len(files)} files follow {schema_path}")
    return 1 if bad else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2:]))
