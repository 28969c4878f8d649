#!/usr/bin/env python3
"""The fleet's own checks of the manifests, beside the schema validation
(validate_manifests.mjs): what the schemas cannot know.

- every selector matches its pod labels, every mount names a volume;
- the ScaledObject names this Deployment and its TriggerAuthentication, and
  counts jobs over the management API (ready plus unacknowledged);
- images come from a registry under a fixed tag, never :latest;
- the node stops before the service (the service is a native sidecar) and
  the grace period covers the node's marker timeout;
- the message limit is one setting: the broker's max_message_size equals
  the ConfigMap's max-message-bytes that the nodes read;
- no password in any container's arguments.
"""
import glob
import os
import sys

import yaml


def containers_of(spec):
    return spec.get("initContainers", []) + spec["containers"]


def arg_after(args, flag):
    return args[args.index(flag) + 1] if flag in args else None


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    docs = {}
    for path in sorted(glob.glob(os.path.join(here, "*.yaml"))):
        for doc in yaml.safe_load_all(open(path)):
            docs[(doc["kind"], doc["metadata"]["name"])] = doc
    for (kind, name), doc in docs.items():
        if kind not in ("Deployment", "StatefulSet"):
            continue
        spec = doc["spec"]
        pod = spec["template"]["spec"]
        labels = spec["template"]["metadata"]["labels"]
        for key, value in spec["selector"]["matchLabels"].items():
            assert labels.get(key) == value, f"{name}: selector {key}"
        volumes = {v["name"] for v in pod.get("volumes", [])}
        volumes |= {c["metadata"]["name"] for c in spec.get("volumeClaimTemplates", [])}
        for container in containers_of(pod):
            image = container["image"]
            assert "/" in image.split(":")[0] and ":" in image and not image.endswith(":latest"), \
                f"{name}: image {image} needs a registry and a fixed tag"
            for mount in container.get("volumeMounts", []):
                assert mount["name"] in volumes, f"{name}: volume {mount['name']}"
            for arg in container.get("args", []) + container.get("command", []):
                assert "://" not in arg or "@" not in arg or ":" not in arg.split("://")[1].split("@")[0], \
                    f"{name}: a password in the arguments of {container['name']}"

    fleet = docs[("Deployment", "quillaro-fleet")]["spec"]["template"]["spec"]
    sidecars = [c for c in fleet.get("initContainers", []) if c.get("restartPolicy") == "Always"]
    assert [c["name"] for c in sidecars] == ["service"], "the service must be the native sidecar"
    node = next(c for c in fleet["containers"] if c["name"] == "node")
    marker_timeout = int(arg_after(node["args"], "--marker-timeout-seconds"))
    assert fleet["terminationGracePeriodSeconds"] > marker_timeout, "grace period below the marker timeout"
    assert node["livenessProbe"]["httpGet"]["path"] == "/healthz"

    limit = docs[("ConfigMap", "quillaro-settings")]["data"]["max-message-bytes"]
    conf = docs[("ConfigMap", "quillaro-broker-config")]["data"]["rabbitmq.conf"]
    broker_limit = [l.split("=")[1].strip() for l in conf.splitlines() if l.startswith("max_message_size")]
    assert broker_limit == [limit], f"broker max_message_size {broker_limit} != max-message-bytes {limit}"
    env = {e["name"]: e for e in node.get("env", [])}
    assert env["QUILLARO_MAX_MESSAGE_BYTES"]["valueFrom"]["configMapKeyRef"]["key"] == "max-message-bytes"

    scaled = docs[("ScaledObject", "quillaro-fleet")]["spec"]
    assert ("Deployment", scaled["scaleTargetRef"]["name"]) in docs
    assert "scaleDown" in scaled["advanced"]["horizontalPodAutoscalerConfig"]["behavior"]
    for trigger in scaled["triggers"]:
        assert ("TriggerAuthentication", trigger["authenticationRef"]["name"]) in docs
        assert trigger["metadata"]["protocol"] == "http", "AMQP counts only waiting jobs"
    print(f"manifests: {len(docs)} documents agree with each other")


if __name__ == "__main__":
    sys.exit(main())
