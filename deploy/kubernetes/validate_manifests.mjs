// Validates every document of deploy/kubernetes/*.yaml against the JSON
// schema of its kind: the Kubernetes API's (npm kubernetes-models) and
// KEDA's (npm @kubernetes-models/keda). A field misspelt, misplaced or of the
// wrong type fails here rather than at kubectl apply.
//   NODE_PATH=<npm prefix>/node_modules node validate_manifests.mjs FOLDER
// (scripts/validate_manifests.sh installs the packages and runs it.)
import { readFileSync, readdirSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

// The packages' modules by file: they export only their root to importers.
const modules = process.env.NODE_PATH;
const load = (path) => import(pathToFileURL(join(modules, path)).href);
const { parseAllDocuments } = await load("yaml/dist/index.js");

// apiVersion -> the module that holds its kinds: "apps/v1" ->
// kubernetes-models/apps/v1, "v1" -> kubernetes-models/v1, "keda.sh/..." ->
// @kubernetes-models/keda/keda.sh/...
function modelsFor(apiVersion) {
  const root = apiVersion.startsWith("keda.sh/") ? "@kubernetes-models/keda" : "kubernetes-models";
  return load(`${root}/${apiVersion}/index.js`);
}

const folder = process.argv[2];
let documents = 0;
let failures = 0;
for (const file of readdirSync(folder).filter((f) => f.endsWith(".yaml")).sort()) {
  for (const document of parseAllDocuments(readFileSync(join(folder, file), "utf8"))) {
    if (document.errors.length > 0) {
      console.error(`${file}: not YAML: ${document.errors[0].message}`);
      failures++;
      continue;
    }
    const object = document.toJS();
    const where = `${file}: ${object.kind}/${object.metadata?.name}`;
    try {
      const models = await modelsFor(object.apiVersion);
      const Model = models[object.kind];
      if (!Model) throw new Error(`no schema for ${object.apiVersion} ${object.kind}`);
      new Model(object).validate();
      documents++;
    } catch (error) {
      console.error(`${where}: ${error.message}`);
      failures++;
    }
  }
}
console.log(`manifests: ${documents} documents valid against their schemas, ${failures} invalid`);
process.exit(failures === 0 && documents > 0 ? 0 : 1);
