// tolvessa_vqlrun collects a fleet-engine artifact here, with the engine's own VQL evaluator
// (vfilter) and stand-ins for the client's plugins and functions that the artifacts use:
// info(), Generic.Utils.FetchBinary, execve, tempfile, read_file, parse_json, parse_csv,
// format, join, get and log. Other artifacts of the files given are callable as
// Artifact.<name>(), as on a client.
//
//	tolvessa_vqlrun CASE.json
//
// CASE.json: {"artifacts": [FILE...], "collect": NAME, "parameters": {NAME: VALUE},
// "architecture": "amd64", "tools": {TOOL: PATH}, "return_code": N, "stderr": TEXT,
// "csv": FILE, "json": FILE}. A tool missing from "tools" is one the fetch fails for. The
// program run by execve copies "csv" and "json" to the paths after its "-csv" and "-json"
// arguments and exits with "return_code". read_file, parse_json and join behave as the
// client's do (read_file's 4 MiB unless told more; parse_json's ordered dict, its numbers and
// times); parse_csv types the cells as the client's does (numbers, "true"/"false", JSON, and
// a cell that is not JSON ends the reading).
//
// Prints one JSON document: {"rows": [...], "logs": [{"level", "message"}...],
// "runs": [[ARGV...]...], "fetched": [TOOL...], "engine": [LINE...]} where "engine" holds
// what the evaluator itself logged (an unknown plugin or function, a bad argument).
package main

import (
	"context"
	"encoding/base64"
	"encoding/csv"
	"encoding/json"
	"errors"
	"fmt"
	"io"
	"io/ioutil"
	"log"
	"os"
	"path/filepath"
	"reflect"
	"regexp"
	"sort"
	"strconv"
	"strings"
	"sync"
	"time"

	"github.com/Velocidex/ordereddict"
	yaml "github.com/Velocidex/yaml/v2"
	"www.velocidex.com/golang/vfilter"
	"www.velocidex.com/golang/vfilter/arg_parser"
	"www.velocidex.com/golang/vfilter/functions"
	"www.velocidex.com/golang/vfilter/plugins"
	"www.velocidex.com/golang/vfilter/types"
	"www.velocidex.com/golang/vfilter/utils/dict"
)

type parameter struct {
	Name    string `json:"name"`
	Type    string `json:"type"`
	Default string `json:"default"`
}

type source struct {
	Query string `json:"query"`
}

type artifact struct {
	Name       string      `json:"name"`
	Parameters []parameter `json:"parameters"`
	Sources    []source    `json:"sources"`
}

type testCase struct {
	Artifacts    []string               `json:"artifacts"`
	Collect      string                 `json:"collect"`
	Parameters   map[string]interface{} `json:"parameters"`
	Architecture string                 `json:"architecture"`
	Tools        map[string]string      `json:"tools"`
	ReturnCode   int64                  `json:"return_code"`
	Stderr       string                 `json:"stderr"`
	CSV          string                 `json:"csv"`
	JSON         string                 `json:"json"`
}

type logEntry struct {
	Level   string `json:"level"`
	Message string `json:"message"`
}

type result struct {
	Rows    []*ordereddict.Dict `json:"rows"`
	Logs    []logEntry          `json:"logs"`
	Runs    [][]string          `json:"runs"`
	Fetched []string            `json:"fetched"`
	Engine  []string            `json:"engine"`
}

// osPath stands for the client's path object: text only through its String method, and no
// truth value of its own.
type osPath struct{ path string }

func (p osPath) String() string { return p.path }

// Like the client's path object, more than one member (vfilter then takes its text by %v).
func (p osPath) Basename() string { return filepath.Base(strings.ReplaceAll(p.path, `\`, "/")) }
func (p osPath) Path() string     { return p.path }

// A CSV cell as the client's parse_csv gives it: "true" and "false" as booleans, "base64:..."
// as bytes, a leading blank dropped, a cell that begins with "{" or "[" as JSON (an error when it
// is not), integers and floats as numbers, anything else as the text.
func clientCell(item string) (interface{}, error) {
	switch {
	case item == "true":
		return true, nil
	case item == "false":
		return false, nil
	case strings.HasPrefix(item, "base64:"):
		return base64.StdEncoding.DecodeString(item[7:])
	case strings.HasPrefix(item, " "):
		return item[1:], nil
	case strings.HasPrefix(item, "{"):
		value := map[string]interface{}{}
		return value, json.Unmarshal([]byte(item), &value)
	case strings.HasPrefix(item, "["):
		value := []interface{}{}
		return value, json.Unmarshal([]byte(item), &value)
	}
	if value, err := strconv.Atoi(item); err == nil {
		return value, nil
	}
	if value, err := strconv.ParseFloat(item, 64); err == nil {
		return value, nil
	}
	return item, nil
}

type engineLog struct {
	mu    sync.Mutex
	lines []string
}

func (l *engineLog) Write(b []byte) (int, error) {
	l.mu.Lock()
	defer l.mu.Unlock()
	l.lines = append(l.lines, strings.TrimRight(string(b), "\n"))
	return len(b), nil
}

type collector struct {
	c         testCase
	artifacts map[string]artifact
	tempDir   string
	mu        sync.Mutex
	out       result
	engine    engineLog
}

var truthy = regexp.MustCompile(`(?i)^(Y|TRUE|YES|OK)$`)

// The parameter's value as the engine hands it to the query: "bool" parameters as booleans.
func convert(p parameter, value interface{}) interface{} {
	if p.Type == "bool" {
		switch t := value.(type) {
		case bool:
			return t
		case string:
			return truthy.MatchString(t)
		default:
			return false
		}
	}
	return value
}

func (c *collector) logf(level, format string, args ...interface{}) {
	c.mu.Lock()
	defer c.mu.Unlock()
	c.out.Logs = append(c.out.Logs, logEntry{level, fmt.Sprintf(format, args...)})
}

func (c *collector) scope() types.Scope {
	scope := vfilter.NewScope()
	scope.SetLogger(log.New(&c.engine, "", 0))

	artifactTree := ordereddict.NewDict()
	add := func(name string, plugin types.PluginGeneratorInterface) {
		node := artifactTree
		parts := strings.Split(name, ".")
		for _, part := range parts[:len(parts)-1] {
			next, ok := node.Get(part)
			child, isDict := next.(*ordereddict.Dict)
			if ok && !isDict {
				// An artifact of that name is there: this one is never called.
				return
			}
			if !ok {
				child = ordereddict.NewDict()
				node.Set(part, child)
			}
			node = child
		}
		if _, taken := node.Get(parts[len(parts)-1]); !taken {
			node.Set(parts[len(parts)-1], plugin)
		}
	}
	add("Generic.Utils.FetchBinary", plugins.GenericListPlugin{
		PluginName: "FetchBinary",
		Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) []types.Row {
			name := arg_parser.GetStringArg(ctx, scope, args, "ToolName")
			path, ok := c.c.Tools[name]
			if !ok {
				c.logf("ERROR", "tool %v not available!", name)
				return nil
			}
			c.mu.Lock()
			c.out.Fetched = append(c.out.Fetched, name)
			c.mu.Unlock()
			return []types.Row{ordereddict.NewDict().
				Set("OSPath", osPath{path}).Set("Name", filepath.Base(path)).
				Set("DownloadStatus", "Cached").Set("FullPath", osPath{path})}
		},
	})
	// Shorter names first: an artifact that others' names extend stays callable.
	var names []string
	for name := range c.artifacts {
		names = append(names, name)
	}
	sort.Strings(names)
	for _, name := range names {
		name := name
		add(name, plugins.GenericListPlugin{
			PluginName: name,
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) []types.Row {
				given := map[string]interface{}{}
				for _, item := range args.Items() {
					value := item.Value
					if lazy, ok := value.(types.LazyExpr); ok {
						value = lazy.Reduce(ctx)
					}
					given[item.Key] = value
				}
				return c.collect(ctx, name, given)
			},
		})
	}
	scope.AppendVars(ordereddict.NewDict().Set("Artifact", artifactTree))

	scope.AppendPlugins(
		plugins.GenericListPlugin{
			PluginName: "info",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) []types.Row {
				return []types.Row{ordereddict.NewDict().Set("OS", "windows").
					Set("Architecture", c.c.Architecture)}
			},
		},
		plugins.GenericListPlugin{
			PluginName: "execve",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) []types.Row {
				var a struct {
					Argv   []string `vfilter:"required,field=argv"`
					Length int64    `vfilter:"optional,field=length"`
				}
				if err := arg_parser.ExtractArgsWithContext(ctx, scope, args, &a); err != nil {
					scope.Log("ERROR:execve: %v", err)
					return nil
				}
				c.mu.Lock()
				c.out.Runs = append(c.out.Runs, a.Argv)
				c.mu.Unlock()
				exports := map[string]string{"-csv": c.c.CSV, "-json": c.c.JSON}
				for i := 0; i+1 < len(a.Argv); i++ {
					if from := exports[a.Argv[i]]; from != "" {
						data, err := ioutil.ReadFile(from)
						if err == nil {
							err = ioutil.WriteFile(a.Argv[i+1], data, 0o600)
						}
						if err != nil {
							scope.Log("ERROR:execve: %v", err)
						}
					}
				}
				return []types.Row{ordereddict.NewDict().Set("Stdout", "").
					Set("Stderr", c.c.Stderr).Set("ReturnCode", c.c.ReturnCode).
					Set("Complete", true)}
			},
		},
		plugins.GenericListPlugin{
			PluginName: "parse_csv",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) []types.Row {
				var a struct {
					Filename string `vfilter:"required,field=filename"`
				}
				if err := arg_parser.ExtractArgsWithContext(ctx, scope, args, &a); err != nil {
					scope.Log("ERROR:parse_csv: %v", err)
					return nil
				}
				f, err := os.Open(a.Filename)
				if err != nil {
					scope.Log("ERROR:parse_csv: %v", err)
					return nil
				}
				defer f.Close()
				reader := csv.NewReader(f)
				header, err := reader.Read()
				if err != nil {
					return nil
				}
				var rows []types.Row
				for {
					record, err := reader.Read()
					if err == io.EOF {
						break
					}
					if err != nil {
						scope.Log("ERROR:parse_csv: %v", err)
						break
					}
					row := ordereddict.NewDict()
					for i, name := range header {
						value, err := clientCell(record[i])
						if err != nil {
							// The client stops reading the file there, with a log line.
							c.logf("DEFAULT", "parse_csv: %v", err)
							return rows
						}
						row.Set(name, value)
					}
					rows = append(rows, row)
				}
				return rows
			},
		})

	scope.AppendFunctions(
		// The client's read_file(): the file's first "length" bytes (4 MiB when not given) as
		// text, "" with a log line when it cannot be opened.
		functions.GenericFunction{
			FunctionName: "read_file",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) types.Any {
				var a struct {
					Length   int    `vfilter:"optional,field=length"`
					Offset   int64  `vfilter:"optional,field=offset"`
					Filename string `vfilter:"required,field=filename"`
					Accessor string `vfilter:"optional,field=accessor"`
				}
				if err := arg_parser.ExtractArgsWithContext(ctx, scope, args, &a); err != nil {
					scope.Log("ERROR:read_file: %v", err)
					return ""
				}
				if a.Length == 0 {
					a.Length = 4 * 1024 * 1024
				}
				f, err := os.Open(a.Filename)
				if err != nil {
					c.logf("DEFAULT", "read_file: %v: %v", a.Filename, err)
					return ""
				}
				defer f.Close()
				if a.Offset > 0 {
					_, _ = f.Seek(a.Offset, io.SeekStart)
				}
				buf := make([]byte, a.Length)
				n, err := io.ReadAtLeast(f, buf, len(buf))
				if err != nil && !errors.Is(err, io.ErrUnexpectedEOF) && !errors.Is(err, io.EOF) {
					c.logf("DEFAULT", "read_file: %v", err)
					return ""
				}
				return string(buf[:n])
			},
		},
		// The client's parse_json(): the text as an object (encoding/json into an ordered dict,
		// so numbers as integers or floats, and a text that reads as an RFC 3339 time as a
		// time), null with a log line when it is not one JSON object.
		functions.GenericFunction{
			FunctionName: "parse_json",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) types.Any {
				var a struct {
					Data string `vfilter:"required,field=data"`
				}
				if err := arg_parser.ExtractArgsWithContext(ctx, scope, args, &a); err != nil {
					scope.Log("ERROR:parse_json: %v", err)
					return &types.Null{}
				}
				result := ordereddict.NewDict()
				if err := json.Unmarshal([]byte(a.Data), result); err != nil {
					c.logf("DEFAULT", "parse_json: %v", err)
					return &types.Null{}
				}
				return result
			},
		},
		// The client's format(): fmt.Sprintf over "args" (a list, or one value), a time as
		// RFC 3339 in UTC.
		functions.GenericFunction{
			FunctionName: "format",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) types.Any {
				var a struct {
					Format string    `vfilter:"required,field=format"`
					Args   types.Any `vfilter:"optional,field=args"`
				}
				if err := arg_parser.ExtractArgsWithContext(ctx, scope, args, &a); err != nil {
					scope.Log("ERROR:format: %v", err)
					return false
				}
				var values []interface{}
				if a.Args != nil {
					slice := reflect.ValueOf(a.Args)
					if slice.Type().Kind() != reflect.Slice {
						values = append(values, a.Args)
					} else {
						for i := 0; i < slice.Len(); i++ {
							values = append(values, slice.Index(i).Interface())
						}
					}
				}
				for i, value := range values {
					if t, ok := value.(time.Time); ok {
						values[i] = t.UTC().Format(time.RFC3339)
					}
				}
				return fmt.Sprintf(a.Format, values...)
			},
		},
		// The client's join(): the texts with "sep" between them, "," when it is empty.
		functions.GenericFunction{
			FunctionName: "join",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) types.Any {
				var a struct {
					Array []string `vfilter:"required,field=array"`
					Sep   string   `vfilter:"optional,field=sep"`
				}
				if err := arg_parser.ExtractArgsWithContext(ctx, scope, args, &a); err != nil {
					scope.Log("ERROR:join: %v", err)
					return false
				}
				if a.Sep == "" {
					a.Sep = ","
				}
				return strings.Join(a.Array, a.Sep)
			},
		},
		// The client's get(): "field" is a key taken as it is (blanks and all), "member" a
		// dotted path; from the row in scope when no item is given.
		functions.GenericFunction{
			FunctionName: "get",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) types.Any {
				var a struct {
					Item    types.Any `vfilter:"optional,field=item"`
					Member  string    `vfilter:"optional,field=member"`
					Field   types.Any `vfilter:"optional,field=field"`
					Default types.Any `vfilter:"optional,field=default"`
				}
				if err := arg_parser.ExtractArgsWithContext(ctx, scope, args, &a); err != nil {
					scope.Log("ERROR:get: %v", err)
					return types.Null{}
				}
				var value types.Any = a.Item
				if value == nil {
					value = scope
				}
				var path []types.Any
				if a.Field != nil {
					path = append(path, a.Field)
				}
				for _, member := range strings.Split(a.Member, ".") {
					if member != "" {
						path = append(path, member)
					}
				}
				for _, key := range path {
					next, ok := scope.Associative(value, key)
					if !ok {
						if a.Default != nil {
							return a.Default
						}
						return types.Null{}
					}
					value = next
				}
				return value
			},
		},
		functions.GenericFunction{
			FunctionName: "log",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) types.Any {
				var a struct {
					Message string    `vfilter:"required,field=message"`
					Args    types.Any `vfilter:"optional,field=args"`
					Level   string    `vfilter:"optional,field=level"`
				}
				if err := arg_parser.ExtractArgsWithContext(ctx, scope, args, &a); err != nil {
					scope.Log("ERROR:log: %v", err)
					return false
				}
				level := a.Level
				if level == "" {
					level = "DEFAULT"
				}
				var values []interface{}
				if list, ok := a.Args.([]types.Any); ok {
					for _, value := range list {
						values = append(values, value)
					}
				} else if a.Args != nil {
					values = append(values, a.Args)
				}
				c.logf(level, a.Message, values...)
				return true
			},
		},
		functions.GenericFunction{
			FunctionName: "tempfile",
			Function: func(ctx context.Context, scope types.Scope, args *ordereddict.Dict) types.Any {
				extension := arg_parser.GetStringArg(ctx, scope, args, "extension")
				f, err := ioutil.TempFile(c.tempDir, "tmp*"+extension)
				if err != nil {
					scope.Log("ERROR:tempfile: %v", err)
					return false
				}
				f.Close()
				return f.Name()
			},
		})
	return scope
}

// Collects the artifact with the parameters given (the others at their defaults) and returns
// its rows.
func (c *collector) collect(ctx context.Context, name string, given map[string]interface{}) []types.Row {
	a, ok := c.artifacts[name]
	if !ok {
		c.engine.Write([]byte("ERROR:no artifact " + name))
		return nil
	}
	declared := map[string]bool{}
	env := ordereddict.NewDict()
	for _, p := range a.Parameters {
		declared[p.Name] = true
		var value interface{} = p.Default
		if v, ok := given[p.Name]; ok {
			value = v
		}
		env.Set(p.Name, convert(p, value))
	}
	for key := range given {
		if !declared[key] {
			c.engine.Write([]byte(fmt.Sprintf("ERROR:%v has no parameter %v", name, key)))
		}
	}
	scope := c.scope()
	scope.AppendVars(env)
	defer scope.Close()

	var rows []types.Row
	for _, s := range a.Sources {
		statements, err := vfilter.MultiParse(s.Query)
		if err != nil {
			c.engine.Write([]byte(fmt.Sprintf("ERROR:%v: %v", name, err)))
			return nil
		}
		for _, statement := range statements {
			for row := range statement.Eval(ctx, scope) {
				rows = append(rows, dict.RowToDict(ctx, scope, row))
			}
		}
	}
	return rows
}

func main() {
	if len(os.Args) != 2 {
		fmt.Fprintln(os.Stderr, "usage: tolvessa_vqlrun CASE.json")
		os.Exit(2)
	}
	data, err := ioutil.ReadFile(os.Args[1])
	if err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(2)
	}
	c := &collector{artifacts: map[string]artifact{}}
	if err := json.Unmarshal(data, &c.c); err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(2)
	}
	for _, path := range c.c.Artifacts {
		data, err := ioutil.ReadFile(path)
		if err != nil {
			fmt.Fprintln(os.Stderr, err)
			os.Exit(2)
		}
		var a artifact
		if err := yaml.Unmarshal(data, &a); err != nil {
			fmt.Fprintln(os.Stderr, path, err)
			os.Exit(2)
		}
		c.artifacts[a.Name] = a
	}
	c.tempDir, err = ioutil.TempDir("", "tolvessa-vqlrun-")
	if err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(2)
	}
	defer os.RemoveAll(c.tempDir)

	parameters := map[string]interface{}{}
	for key, value := range c.c.Parameters {
		parameters[key] = value
	}
	for _, row := range c.collect(context.Background(), c.c.Collect, parameters) {
		if d, ok := row.(*ordereddict.Dict); ok {
			c.out.Rows = append(c.out.Rows, d)
		}
	}
	c.out.Engine = c.engine.lines
	out, err := json.MarshalIndent(c.out, "", " ")
	if err != nil {
		fmt.Fprintln(os.Stderr, err)
		os.Exit(2)
	}
	fmt.Println(string(out))
}
