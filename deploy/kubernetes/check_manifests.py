#!/usr/bin/env python3
"""Sanity check of the manifests without a cluster: every document parses,
has the fields its kind needs, selectors match their pod labels, mounts name
volumes that exist, and the ScaledObject names the Deployment and
TriggerAuthentication defined here. Not a schema validation."""
import glob
import os
import sys

import yaml

REQUIRED = {
    "Deployment": ["spec.selector", "spec.template.spec.containers"],
    "StatefulSet": ["spec.selector", "spec.serviceName", "spec.template.spec.containers"],
    "Service": ["spec.ports"],
    "ConfigMap": ["data"],
    "Secret": ["stringData"],
    "ScaledObject": ["spec.scaleTargetRef.name", "spec.triggers"],
    "TriggerAuthentication": ["spec.secretTargetRef"],
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    docs = {}
    for path in sorted(glob.glob(os.path.join(here, "*.yaml"))):
        for doc in yaml.safe_load_all(open(path)):
            kind, name = doc["kind"], doc["metadata"]["name"]
            for field in REQUIRED[kind]:
                node = doc
                for key in field.split("."):
                    node = node[key]
            if kind in ("Deployment", "StatefulSet"):
                spec = doc["spec"]
                labels = spec["template"]["metadata"]["labels"]
                for key, value in spec["selector"]["matchLabels"].items():
                    assert labels.get(key) == value, f"{name}: selector {key}"
                volumes = {v["name"] for v in spec["template"]["spec"].get("volumes", [])}
                volumes |= {c["metadata"]["name"] for c in spec.get("volumeClaimTemplates", [])}
                for container in spec["template"]["spec"]["containers"]:
                    for mount in container.get("volumeMounts", []):
                        assert mount["name"] in volumes, f"{name}: volume {mount['name']}"
            docs[(kind, name)] = doc
    scaled = docs[("ScaledObject", "quillaro-fleet")]["spec"]
    assert ("Deployment", scaled["scaleTargetRef"]["name"]) in docs
    for trigger in scaled["triggers"]:
        assert ("TriggerAuthentication", trigger["authenticationRef"]["name"]) in docs
    print(f"manifests: {len(docs)} documents ok")


if __name__ == "__main__":
    sys.exit(main())
